// Engine benchmarks: player open and exact-seek latency against the mpv program, and an
// encoder job against the same ffmpeg argument list run by hand. Prints a Markdown table.
//
// Usage: bench_engine CLIP [RUNS]   (CLIP: a 10 s H.264/AAC file; see bench/run.sh)

#include "avlogging.h"
#include "ffmpegencoder.h"
#include "mpvplayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double runProgramMs(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return t.nsecsElapsed() / 1e6;
}

// Waits in the event loop (not spinning, so the measured work keeps both cores), checking
// the condition every millisecond.
void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer t;
    t.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || t.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_engine CLIP [RUNS]\n");
        return 2;
    }
    const QString clip = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));

    // Open to first frame: a fresh player each time, until mpv reports a position.
    std::vector<double> open;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        MpvPlayer player(MpvPlayer::Options { true });
        player.loadLibrary();
        player.open(clip);
        waitUntil([&] { return player.currentPosition() >= 0; }, 5000);
        open.push_back(t.nsecsElapsed() / 1e6);
    }

    // Exact seek: one player, random targets, until the position is the target.
    std::vector<double> seek;
    {
        MpvPlayer player(MpvPlayer::Options { true });
        player.loadLibrary();
        player.open(clip);
        waitUntil([&] { return !player.isOpening(); }, 20000);
        QRandomGenerator rng(42);
        for (int i = 0; i < runs; ++i) {
            const qint64 target = 40000 * rng.bounded(1, 240); // frame starts of the 10 s clip
            QElapsedTimer t;
            t.start();
            player.seek(target);
            waitUntil([&] { return std::abs(player.currentPosition() - target) <= 1000; }, 5000);
            seek.push_back(t.nsecsElapsed() / 1e6);
        }
    }

    // The mpv program: open and show one frame; seek to 5 s and show one frame.
    std::vector<double> mpvOpen, mpvSeek;
    if (!mpv.isEmpty()) {
        // Audio off: with a null audio output mpv would wait for the audio buffer to play.
        const QStringList base { "--no-config", "--vo=null", "--audio=no", "--really-quiet",
                                 "--frames=1" };
        for (int i = 0; i < runs; ++i) {
            mpvOpen.push_back(runProgramMs(mpv, base + QStringList { clip }));
            mpvSeek.push_back(
                runProgramMs(mpv, base + QStringList { "--hr-seek=yes", "--start=5", clip }));
        }
    }

    // Encoder: a 5 s H.264 cut, through the encoder and as the same argv run by hand.
    std::vector<double> job, direct;
    QTemporaryDir out;
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const int jobs = std::max(3, runs / 4);
    for (int i = 0; i < jobs; ++i) {
        FfmpegEncoder encoder;
        encoder.loadLibrary(QString());
        const QString path = out.filePath(QStringLiteral("job%1.mp4").arg(i));
        bool finished = false;
        QObject::connect(&encoder, &Encoder::encoderFinished, [&] { finished = true; });
        QElapsedTimer t;
        t.start();
        encoder.clearJobs();
        const int in = encoder.addInputFile(clip, QStringLiteral("-TimeStart 2"));
        encoder.addOutputFile(in, path,
                              QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 800k "
                                             "-ab 128k -ar 44100 -s 640x360 -TimeLength 5"));
        const QStringList args = encoder.jobArguments(out.filePath(QStringLiteral("direct.mp4")));
        encoder.startEncoding();
        waitUntil([&] { return finished; }, 120000);
        job.push_back(t.nsecsElapsed() / 1e6);
        QFile::remove(out.filePath(QStringLiteral("direct.mp4")));
        direct.push_back(runProgramMs(ffmpeg, args));
    }

    std::printf("| Measure | Snipora (median ms) | Baseline (median ms) | Ratio |\n");
    std::printf("|---|---|---|---|\n");
    const bool haveMpv = !mpv.isEmpty();
    auto row = [haveMpv](const char *what, const char *baseline, double ours, double theirs) {
        if (theirs > 0)
            std::printf("| %s | %.1f | %.1f (%s) | %.2f |\n", what, ours, theirs, baseline,
                        ours / theirs);
        else if (haveMpv)
            std::printf("| %s | %.1f | below the noise (%s) | |\n", what, ours, baseline);
        else
            std::printf("| %s | %.1f | n/a (the mpv program is not installed) | |\n", what, ours);
    };
    row("Open to first frame (player)", "mpv --frames=1, a whole process", median(open),
        median(mpvOpen));
    row("Exact seek (player)", "mpv --start=5 --frames=1, minus its open", median(seek),
        mpvSeek.empty() ? 0 : std::max(0.0, median(mpvSeek) - median(mpvOpen)));
    row("5 s H.264 cut (encoder job)", "same ffmpeg argv by hand", median(job), median(direct));
    std::printf("\nRuns: %d (player), %d (encoder); 2-core machine, medians.\n", runs, jobs);
    return 0;
}
