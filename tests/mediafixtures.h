#pragma once

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>

// Media made at test time with ffmpeg's lavfi sources, and ffprobe/ffmpeg checks of outputs.
namespace MediaFixtures {

// Runs a program to completion; returns its exit code (-1 when it did not run).
inline int run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
               int timeoutMs = 120000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

inline bool ffmpeg(const QStringList &args)
{
    QStringList all { QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                      QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y") };
    all << args;
    return run(QStringLiteral("ffmpeg"), all) == 0;
}

// H.264/AAC MP4, 640x360, 25 fps, the given length.
inline QString makeH264Aac(const QDir &dir, const QString &name = QStringLiteral("clip.mp4"),
                           int seconds = 10, const QString &size = QStringLiteral("640x360"))
{
    const QString path = dir.filePath(name);
    const QString d = QString::number(seconds);
    const bool ok = ffmpeg(
        { "-f",        "lavfi",   "-i",       "testsrc2=size=" + size + ":rate=25:duration=" + d,
          "-f",        "lavfi",   "-i",       "sine=frequency=440:sample_rate=44100:duration=" + d,
          "-c:v",      "libx264", "-preset",  "ultrafast",
          "-g",        "25",      "-pix_fmt", "yuv420p",
          "-c:a",      "aac",     "-b:a",     "96k",
          "-shortest", path });
    return ok ? path : QString();
}

inline QString makeMp3(const QDir &dir, int seconds = 10)
{
    const QString path = dir.filePath(QStringLiteral("tone.mp3"));
    const bool ok
        = ffmpeg({ "-f", "lavfi", "-i",
                   "sine=frequency=330:sample_rate=44100:duration=" + QString::number(seconds),
                   "-c:a", "libmp3lame", "-b:a", "128k", path });
    return ok ? path : QString();
}

inline QString makeVideoOnly(const QDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("silent.mp4"));
    const bool ok = ffmpeg({ "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=4", "-c:v",
                             "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", path });
    return ok ? path : QString();
}

inline QString makeSurround(const QDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("surround.m4a"));
    const bool ok = ffmpeg({ "-f", "lavfi", "-i",
                             "aevalsrc=sin(440*2*PI*t)|sin(550*2*PI*t)|0|0|0|0:c=5.1:s=48000:d=4",
                             "-c:a", "aac", path });
    return ok ? path : QString();
}

// MPEG-2 720x405 in MPEG-TS, starting at 10 s.
inline QString makeMpeg2Offset(const QDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("offset.ts"));
    const bool ok = ffmpeg({ "-f", "lavfi", "-i", "testsrc=size=720x405:rate=25:duration=6", "-f",
                             "lavfi", "-i", "sine=duration=6", "-c:v", "mpeg2video", "-c:a", "mp2",
                             "-output_ts_offset", "10", "-shortest", path });
    return ok ? path : QString();
}

// Where a stream of a file ends: the latest end of its packets, in seconds ("v:0", "a:0").
// fillTimes: with the times of packets the container does not stamp (MPEG-PS) worked out
// from the others, as a player does.
inline double streamEnd(const QString &path, const char *stream, bool fillTimes = false)
{
    QByteArray out;
    QStringList args { "-v",   "error",         "-select_streams",
                       stream, "-show_entries", "packet=pts_time,duration_time",
                       "-of",  "csv=p=0",       path };
    if (fillTimes)
        args = QStringList { "-fflags", "+genpts" } + args;
    run(QStringLiteral("ffprobe"), args, &out);
    double end = 0;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2)
            end = std::max(end, f.at(0).toDouble() + f.at(1).toDouble());
    }
    return end;
}

struct ProbeResult
{
    bool ok = false;
    QString formatName;
    double duration = -1;
    int videoStreams = 0;
    int audioStreams = 0;
    int width = 0;
    int height = 0;
    QString videoCodec;
    QString audioCodec;
    int channels = 0;
    QString frameRate;
};

inline ProbeResult ffprobe(const QString &path)
{
    ProbeResult r;
    QByteArray out;
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            { "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path });
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return r;
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonObject format = root.value(QStringLiteral("format")).toObject();
    r.formatName = format.value(QStringLiteral("format_name")).toString();
    r.duration = format.value(QStringLiteral("duration")).toString().toDouble();
    for (const auto &s : root.value(QStringLiteral("streams")).toArray()) {
        const QJsonObject stream = s.toObject();
        const QString type = stream.value(QStringLiteral("codec_type")).toString();
        if (type == QLatin1String("video")) {
            ++r.videoStreams;
            r.width = stream.value(QStringLiteral("width")).toInt();
            r.height = stream.value(QStringLiteral("height")).toInt();
            r.videoCodec = stream.value(QStringLiteral("codec_name")).toString();
            r.frameRate = stream.value(QStringLiteral("r_frame_rate")).toString();
        } else if (type == QLatin1String("audio")) {
            ++r.audioStreams;
            r.audioCodec = stream.value(QStringLiteral("codec_name")).toString();
            r.channels = stream.value(QStringLiteral("channels")).toInt();
        }
    }
    if (!(r.duration > 0)) {
        // Some containers (swf) carry no duration: take the last decoded timestamp.
        QProcess d;
        d.start(QStringLiteral("ffprobe"),
                { "-v", "error", "-show_entries", "frame=pts_time,pkt_duration_time", "-of",
                  "csv=p=0", path });
        if (d.waitForFinished(60000)) {
            double end = 0;
            for (const QByteArray &line : d.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> f = line.split(',');
                if (f.size() >= 2)
                    end = std::max(end, f.at(0).toDouble() + f.at(1).toDouble());
            }
            r.duration = end;
        }
    }
    r.ok = true;
    return r;
}

// True when ffmpeg decodes the whole file without an error message.
inline bool decodesCleanly(const QString &path, QString *errors = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), { "-nostdin", "-v", "error", "-i", path, "-f", "null", "-" });
    if (!p.waitForFinished(120000))
        return false;
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (errors)
        *errors = err;
    return p.exitCode() == 0 && err.isEmpty();
}

} // namespace MediaFixtures
