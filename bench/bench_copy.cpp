// Direct copy of a large file: the whole file cut by stream copy through the encoder, against
// cp of the same file (the disk's own limit) and against the same ffmpeg arguments run by
// hand. Prints a Markdown table of medians and ratios.
//
// Usage: bench_copy FILE OUTDIR [RUNS]

#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty()
        ? 0
        : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

double timeProgram(const QString &program, const QStringList &args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(program, args);
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString file = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 3;
    AvProbe probe;
    if (!probe.open(file, QString()))
        return 1;
    const double length = probe.durationMicros() / 1e6;
    const double gib = QFileInfo(file).size() / 1024.0 / 1024.0 / 1024.0;
    const QString options
        = QStringLiteral("-vcodec copy -acodec copy -ss 0 -t ") + NumberText(length);
    const QString ext = QFileInfo(file).suffix();

    std::vector<double> ours, cp, byHand;
    for (int i = 0; i < runs; ++i) {
        const QString target = out.filePath(QStringLiteral("copy.") + ext);
        QFile::remove(target);
        FfmpegEncoder encoder;
        encoder.loadLibrary(QString());
        ::sync(); // no run pays for the writing of the one before
        QElapsedTimer t;
        t.start();
        const int in = encoder.addInputFile(file, QString());
        encoder.addOutputFile(in, target, options);
        const QStringList args
            = encoder.jobArguments(out.filePath(QStringLiteral("byhand.") + ext));
        QEventLoop loop;
        QObject::connect(&encoder, &Encoder::encoderFinished, &loop, &QEventLoop::quit);
        encoder.startEncoding();
        loop.exec();
        ours.push_back(t.nsecsElapsed() / 1e9);
        QFile::remove(target);

        const QString cpTarget = out.filePath(QStringLiteral("cp.") + ext);
        ::sync();
        cp.push_back(timeProgram(QStringLiteral("cp"), { file, cpTarget }));
        QFile::remove(cpTarget);

        QFile::remove(out.filePath(QStringLiteral("byhand.") + ext));
        ::sync();
        byHand.push_back(timeProgram(QStringLiteral("ffmpeg"), args));
        QFile::remove(out.filePath(QStringLiteral("byhand.") + ext));
    }
    const double o = median(ours), c = median(cp), h = median(byHand);
    std::printf("| Direct copy of %.2f GiB | median s | GiB/s | Snipora / this |\n", gib);
    std::printf("|---|---|---|---|\n");
    std::printf("| Snipora (encoder job, copy of the whole range) | %.2f | %.2f | 1.00 |\n", o,
                gib / o);
    std::printf("| cp of the same file | %.2f | %.2f | %.2f |\n", c, gib / c, o / c);
    std::printf("| the same ffmpeg arguments by hand | %.2f | %.2f | %.2f |\n", h, gib / h, o / h);
    std::printf("\nRuns: %d; the file is in the page cache after the first read for all three.\n",
                runs);
    return 0;
}
