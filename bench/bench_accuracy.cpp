// Cut accuracy: a source whose frames carry their own index in their picture (three blocks
// of grey levels, base 16), H.264 with B-frames and a long GOP, starting at 10 s in an MPEG-TS
// container. It is cut with the encoder as the program cuts, in convert mode and by direct
// copy, and the first and last frame of each output are read back and compared with the
// marked range. Prints a Markdown table.
//
// Usage: bench_accuracy WORKDIR

#include "avlogging.h"
#include "ffmpegencoder.h"
#include "timecode.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kW = 192;
constexpr int kH = 64;
constexpr double kRate = 25.0;
constexpr int kFrames = 1500; // 60 s

bool run(const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList { "-nostdin", "-v", "error", "-y" } + args);
    p.waitForFinished(600000);
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode() == 0;
}

// The frame index painted into a decoded grey frame.
int indexOf(const uchar *frame)
{
    int n = 0;
    for (int block = 0; block < 3; ++block) {
        double sum = 0;
        int count = 0;
        for (int y = 16; y < 48; ++y)
            for (int x = block * 64 + 16; x < block * 64 + 48; ++x, ++count)
                sum += frame[y * kW + x];
        const int digit = std::clamp(int(std::lround((sum / count - 8.0) / 16.0)), 0, 15);
        n = n * 16 + digit;
    }
    return n;
}

QList<int> frameIndexes(const QString &file)
{
    QByteArray raw;
    // The luma plane as stored: no range conversion touches the painted levels.
    run({ "-i", file, "-fps_mode", "passthrough", "-vf",
          QStringLiteral("scale=%1:%2").arg(kW).arg(kH), "-pix_fmt", "yuv420p", "-f", "rawvideo",
          "-" },
        &raw);
    QList<int> indexes;
    const qsizetype frameBytes = kW * kH * 3 / 2;
    for (qsizetype at = 0; at + frameBytes <= raw.size(); at += frameBytes)
        indexes << indexOf(reinterpret_cast<const uchar *>(raw.constData() + at));
    return indexes;
}

struct Cut
{
    bool ok = false;
    QString message;
};

Cut cut(const QString &input, const QString &inputOptions, const QString &output,
        const QString &options)
{
    FfmpegEncoder encoder;
    encoder.loadLibrary(QString());
    const int in = encoder.addInputFile(input, inputOptions);
    if (in < 0 || encoder.addOutputFile(in, output, options) < 0)
        return { false, encoder.lastErrorText() };
    Cut result;
    QEventLoop loop;
    QObject::connect(&encoder, &Encoder::encoderFinished, &loop,
                     [&](int, bool ok, bool, const QString &m) {
                         result = { ok, m };
                         loop.quit();
                     });
    encoder.startEncoding();
    loop.exec();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QuietLibavLogging();
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_accuracy WORKDIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString source = dir.filePath(QStringLiteral("indexed.ts"));
    // Block b shows digit b of the frame number (base 16) as the grey level digit * 16 + 8.
    const QString paint
        = QStringLiteral("geq=lum='(floor(mod(N/pow(16,2-floor(X/64)),16))*16+8)':cb=128:cr=128");
    if (!run({ "-f", "lavfi", "-i",
               QStringLiteral("color=black:s=%1x%2:r=25:d=%3,format=yuv420p,%4")
                   .arg(kW)
                   .arg(kH)
                   .arg(kFrames / kRate)
                   .arg(paint),
               "-c:v", "libx264", "-preset", "fast", "-crf", "12", "-bf", "3", "-g", "250",
               "-output_ts_offset", "10", "-f", "mpegts", source })) {
        std::fprintf(stderr, "could not make the source\n");
        return 1;
    }

    std::printf("| Mode | Marked range (s) | Expected frames | First, last output frame | Off by "
                "(frames) |\n");
    std::printf("|---|---|---|---|---|\n");
    struct Range
    {
        double start, length;
    };
    for (const Range r : { Range { 12.34, 7.5 }, Range { 31.02, 3.0 }, Range { 0.0, 2.0 } }) {
        // The frame shown at the start (the first that starts at or after it, as an exact seek
        // of the player shows), and the last one that starts before the end.
        const int first = int(std::ceil(r.start * kRate - 1e-9));
        const int last = int(std::ceil((r.start + r.length) * kRate - 1e-9)) - 1;
        for (const bool copy : { false, true }) {
            const QString out = dir.filePath(QStringLiteral("cut-%1-%2.%3")
                                                 .arg(r.start)
                                                 .arg(copy ? "copy" : "convert")
                                                 .arg(copy ? "ts" : "mp4"));
            const Cut c = copy
                ? cut(source, QString(), out,
                      QStringLiteral("-vcodec copy -acodec copy -ss %1 -t %2")
                          .arg(NumberText(r.start), NumberText(r.length)))
                : cut(
                    source, QStringLiteral("-TimeStart ") + NumberText(r.start), out,
                    QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 2000k -TimeLength ")
                        + NumberText(r.length));
            if (!c.ok) {
                std::printf("| %s | %s + %s | | failed: %s | |\n", copy ? "direct copy" : "convert",
                            qPrintable(NumberText(r.start)), qPrintable(NumberText(r.length)),
                            qPrintable(c.message.simplified()));
                continue;
            }
            const QList<int> got = frameIndexes(out);
            if (got.isEmpty())
                continue;
            std::printf("| %s | %s to %s | %d to %d | %d, %d | %+d, %+d |\n",
                        copy ? "direct copy" : "convert", qPrintable(NumberText(r.start)),
                        qPrintable(NumberText(r.start + r.length)), first, last, got.first(),
                        got.last(), got.first() - first, got.last() - last);
        }
    }
    std::printf("\nSource: %d frames at 25 fps, H.264 with 3 B-frames and a 250-frame GOP, MPEG-TS "
                "starting at 10 s.\n",
                kFrames);
    return 0;
}
