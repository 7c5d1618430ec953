// The timeline of a long file: how soon its key frames are known, how long its thumbnails and
// waveform take, each builder alone and all three at once as the window starts them, again from
// the cache, and the memory their results take. Baselines, run in the same go: ffprobe listing
// the packets (key frames without decoding), ffmpeg decoding every key frame scaled to the strip's
// height, ffmpeg decoding the audio. Prints a Markdown table of medians.
//
// Usage: bench_timeline FILE [RUNS] [THUMBNAILS]

#include "avlogging.h"
#include "keyframeindex.h"
#include "thumbnailstrip.h"
#include "waveform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
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

// Peak (VmHWM) or current (VmRSS) resident memory in MiB.
double residentMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// Waits in the event loop (the builders' results arrive through it) until done() holds.
void waitUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(2);
    if (!done())
        loop.exec();
}

double runProgram(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e9;
}

struct Run
{
    double keysShown = -1; // the first list of key frames (partial or whole)
    double keysDone = -1;
    double thumbnailsDone = -1;
    double waveformDone = -1;
    qint64 dataBytes = 0;
    int keyFrames = 0;
    int thumbnails = 0;
};

// Starts the chosen builders at once and waits for them all.
Run timeline(const QString &file, const TimelineCache &cache, int count, bool index, bool strip,
             bool wave)
{
    Run run;
    KeyFrameIndex keys;
    ThumbnailStrip thumbs;
    Waveform peaks;
    keys.setCache(cache);
    thumbs.setCache(cache);
    peaks.setCache(cache);
    thumbs.setCount(count);
    QElapsedTimer clock;
    int pending = 0;
    auto failed
        = [](const QString &message) { std::fprintf(stderr, "failed: %s\n", qPrintable(message)); };
    for (BackgroundJob *job : std::initializer_list<BackgroundJob *> { &keys, &thumbs, &peaks })
        QObject::connect(job, &BackgroundJob::failed, [&, failed](const QString &m) {
            failed(m);
            --pending;
        });
    QObject::connect(&keys, &KeyFrameIndex::keyFramesUpdated, [&] {
        if (run.keysShown < 0)
            run.keysShown = clock.nsecsElapsed() / 1e9;
    });
    QObject::connect(&keys, &KeyFrameIndex::finished, [&](const KeyFrameList &list) {
        run.keysDone = clock.nsecsElapsed() / 1e9;
        if (run.keysShown < 0)
            run.keysShown = run.keysDone;
        run.keyFrames = int(list.keyFrames.size());
        run.dataBytes += (list.keyFrames.size() + list.frameTimes.size()) * qint64(sizeof(qint64));
        --pending;
    });
    QObject::connect(&thumbs, &ThumbnailStrip::finished, [&](const ThumbnailSet &set) {
        run.thumbnailsDone = clock.nsecsElapsed() / 1e9;
        run.thumbnails = int(set.thumbnails.size());
        run.dataBytes += set.imageBytes();
        --pending;
    });
    QObject::connect(&peaks, &Waveform::finished, [&](const WaveformData &data) {
        run.waveformDone = clock.nsecsElapsed() / 1e9;
        run.dataBytes += data.peaks.size() * qint64(sizeof(WaveformPeak));
        --pending;
    });
    clock.start();
    if (index) {
        ++pending;
        keys.start(file);
    }
    if (strip) {
        ++pending;
        thumbs.start(file);
    }
    if (wave) {
        ++pending;
        peaks.start(file);
    }
    waitUntil([&] { return pending == 0; });
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString file = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const int count = argc > 3 ? std::max(1, atoi(argv[3])) : 240;
    const double startRss = residentMiB("VmRSS:");
    QTemporaryDir cacheDir;
    const TimelineCache cache(cacheDir.path(), TimelineCache::kDefaultMaxBytes);
    const TimelineCache none = TimelineCache::disabled();

    std::vector<double> shown, keysAlone, thumbsAlone, waveAlone, allDone, allThumbs, allWave,
        allKeys, cached, probe, keyDecode, audioDecode;
    Run last;
    for (int i = 0; i < runs; ++i) {
        // Interleaved with the baselines; every file read comes from the page cache after the
        // first run.
        probe.push_back(runProgram("ffprobe",
                                   { "-v", "error", "-select_streams", "v:0", "-show_entries",
                                     "packet=pts_time,flags", "-of", "csv", file }));
        const Run k = timeline(file, none, count, true, false, false);
        shown.push_back(k.keysShown);
        keysAlone.push_back(k.keysDone);
        keyDecode.push_back(
            runProgram("ffmpeg",
                       { "-nostdin", "-v", "error", "-skip_frame", "nokey", "-i", file, "-an",
                         "-vf", "scale=-2:54", "-fps_mode", "passthrough", "-f", "null", "-" }));
        thumbsAlone.push_back(timeline(file, none, count, false, true, false).thumbnailsDone);
        audioDecode.push_back(runProgram(
            "ffmpeg", { "-nostdin", "-v", "error", "-i", file, "-vn", "-f", "null", "-" }));
        waveAlone.push_back(timeline(file, none, count, false, false, true).waveformDone);
        last = timeline(file, none, count, true, true, true);
        allKeys.push_back(last.keysShown);
        allThumbs.push_back(last.thumbnailsDone);
        allWave.push_back(last.waveformDone);
        allDone.push_back(std::max({ last.keysDone, last.thumbnailsDone, last.waveformDone }));
        if (i == 0)
            timeline(file, cache, count, true, true, true); // fills the cache
        const Run hit = timeline(file, cache, count, true, true, true);
        cached.push_back(std::max({ hit.keysDone, hit.thumbnailsDone, hit.waveformDone }));
    }
    const double mib = 1024.0 * 1024.0;
    auto row = [](const char *what, double ours, double base, const char *baseline) {
        if (base > 0)
            std::printf("| %s | %.2f | %.2f (%s) | %.3f |\n", what, ours, base, baseline,
                        ours / base);
        else
            std::printf("| %s | %.2f | | |\n", what, ours);
    };
    std::printf("| %s, %.2f GiB | Snipora (median s) | Baseline (median s) | Ratio |\n",
                qPrintable(QFileInfo(file).fileName()), QFileInfo(file).size() / mib / 1024);
    std::printf("|---|---|---|---|\n");
    row("Key frames shown (first list)", median(shown), 0, "");
    row("Key frames complete", median(keysAlone), median(probe), "ffprobe listing the packets");
    char thumbsWhat[64];
    std::snprintf(thumbsWhat, sizeof thumbsWhat, "%d thumbnails complete", count);
    row(thumbsWhat, median(thumbsAlone), median(keyDecode), "ffmpeg decoding every key frame");
    row("Waveform complete", median(waveAlone), median(audioDecode), "ffmpeg decoding the audio");
    row("All three at once: key frames shown", median(allKeys), 0, "");
    row("All three at once: thumbnails complete", median(allThumbs), 0, "");
    row("All three at once: waveform complete", median(allWave), 0, "");
    row("All three at once: complete", median(allDone), 0, "");
    row("All three again, from the cache", median(cached), 0, "");
    std::printf("\nRuns: %d. %d key frames, %d thumbnails; the builders' results: %.1f MiB; "
                "process resident memory: %.0f MiB at start, %.0f MiB at its peak.\n",
                runs, last.keyFrames, last.thumbnails, last.dataBytes / mib, startRss,
                residentMiB("VmHWM:"));
    return 0;
}
