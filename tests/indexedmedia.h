#pragma once

#include "mediafixtures.h"

#include <cmath>

// Sources whose frames carry their own index in the picture: three blocks of grey levels, one
// base-16 digit each (level = digit * 16 + 8), 192x64 at 25 fps. Reading the index back from a
// decoded frame tells exactly which source frame it is, whatever the container did to the
// timestamps.
namespace IndexedMedia {

constexpr int kWidth = 192;
constexpr int kHeight = 64;
constexpr int kRate = 25;

// H.264 with three B-frames and a key frame every 3 s, AAC audio, in the container the name's
// extension asks for ("ts" files start at 10 s, as broadcast recordings do).
inline QString make(const QDir &dir, const QString &name, int seconds = 10)
{
    const QString path = dir.filePath(name);
    const QString paint
        = QStringLiteral("geq=lum='(floor(mod(N/pow(16,2-floor(X/64)),16))*16+8)':cb=128:cr=128");
    QStringList args {
        "-f",
        "lavfi",
        "-i",
        QStringLiteral("color=black:s=%1x%2:r=%3:d=%4,format=yuv420p,%5")
            .arg(kWidth)
            .arg(kHeight)
            .arg(kRate)
            .arg(seconds)
            .arg(paint),
        "-f",
        "lavfi",
        "-i",
        QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
        "-c:v",
        "libx264",
        "-preset",
        "fast",
        "-crf",
        "12",
        "-bf",
        "3",
        "-g",
        QString::number(3 * kRate),
        "-c:a",
        "aac",
        "-shortest"
    };
    if (name.endsWith(QLatin1String(".ts")))
        args << "-output_ts_offset"
             << "10";
    args << path;
    return MediaFixtures::ffmpeg(args) ? path : QString();
}

inline int indexOf(const uchar *frame)
{
    int n = 0;
    for (int block = 0; block < 3; ++block) {
        double sum = 0;
        int count = 0;
        for (int y = 16; y < 48; ++y)
            for (int x = block * 64 + 16; x < block * 64 + 48; ++x, ++count)
                sum += frame[y * kWidth + x];
        n = n * 16 + std::clamp(int(std::lround((sum / count - 8.0) / 16.0)), 0, 15);
    }
    return n;
}

// The index of every frame of the file's video, in display order: each decoded frame once
// (without passthrough, ffmpeg repeats the first frame of a video that starts after the file).
inline QList<int> frameIndexes(const QString &file)
{
    QByteArray raw;
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            { "-nostdin", "-v", "error", "-i", file, "-map", "0:v:0", "-fps_mode", "passthrough",
              "-vf", QStringLiteral("scale=%1:%2").arg(kWidth).arg(kHeight), "-pix_fmt", "yuv420p",
              "-f", "rawvideo", "-" });
    if (!p.waitForFinished(120000))
        return {};
    raw = p.readAllStandardOutput();
    QList<int> indexes;
    const qsizetype frameBytes = kWidth * kHeight * 3 / 2;
    for (qsizetype at = 0; at + frameBytes <= raw.size(); at += frameBytes)
        indexes << indexOf(reinterpret_cast<const uchar *>(raw.constData() + at));
    return indexes;
}

// How late the first video frame starts after the start of the file (the player's and the
// encoder's time 0): AAC's priming samples put the audio first in Matroska and MPEG-TS.
inline double videoOffset(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            { "-v", "error", "-select_streams", "v:0", "-show_entries",
              "stream=start_time:format=start_time", "-of", "default=nw=1:nk=1", path });
    if (!p.waitForFinished(60000))
        return 0;
    // The stream's start comes first (MPEG-TS lists it twice, under its program too) and the
    // file's last.
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    return lines.size() >= 2 ? lines.first().toDouble() - lines.last().toDouble() : 0.0;
}

// The frame on screen at a time: the first frame that starts at or after it (an exact seek
// shows that one), and the last frame that starts before an end.
inline int firstFrameAt(double seconds, double offset)
{
    return int(std::ceil((seconds - offset) * kRate - 1e-3));
}
inline int lastFrameBefore(double seconds, double offset)
{
    return firstFrameAt(seconds, offset) - 1;
}
inline double frameTime(int index, double offset)
{
    return offset + double(index) / kRate;
}

} // namespace IndexedMedia
