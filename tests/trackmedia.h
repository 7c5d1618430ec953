#pragma once

#include "mediafixtures.h"

#include <QFile>

// A Matroska file with a choice of tracks, made with lavfi: 0 H.264 video (key frames every
// 2 s), 1 stereo AAC "English" (eng), 2 mono AAC "Deutsch" (deu), 3 SubRip subtitles (eng).
// The two audio tracks differ in their channels, which every container keeps.
namespace TrackMedia {

inline QString makeFourTracks(const QDir &dir)
{
    QFile srt(dir.filePath(QStringLiteral("words.srt")));
    if (!srt.open(QIODevice::WriteOnly))
        return QString();
    srt.write("1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:03,000\n"
              "World\n");
    srt.close();
    const QString path = dir.filePath(QStringLiteral("tracks.mkv"));
    const bool ok = MediaFixtures::ffmpeg({ "-f",
                                            "lavfi",
                                            "-i",
                                            "testsrc2=size=320x240:rate=25:duration=4",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "sine=frequency=440:sample_rate=48000:duration=4",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "sine=frequency=660:sample_rate=48000:duration=4",
                                            "-i",
                                            srt.fileName(),
                                            "-map",
                                            "0",
                                            "-map",
                                            "1",
                                            "-map",
                                            "2",
                                            "-map",
                                            "3",
                                            "-c:v",
                                            "libx264",
                                            "-preset",
                                            "veryfast",
                                            "-g",
                                            "50",
                                            "-pix_fmt",
                                            "yuv420p",
                                            "-c:a",
                                            "aac",
                                            "-ac:a:0",
                                            "2",
                                            "-ac:a:1",
                                            "1",
                                            "-c:s",
                                            "srt",
                                            "-metadata:s:a:0",
                                            "language=eng",
                                            "-metadata:s:a:0",
                                            "title=English",
                                            "-metadata:s:a:1",
                                            "language=deu",
                                            "-metadata:s:a:1",
                                            "title=Deutsch",
                                            "-metadata:s:s:0",
                                            "language=eng",
                                            path });
    return ok ? path : QString();
}

// The streams of a file as ffprobe sees them, in order: "video", "audio 2ch", "audio 1ch",
// "subtitle" (data streams, such as MP4's chapter track, left out).
inline QStringList streamKinds(const QString &path)
{
    QByteArray out;
    if (MediaFixtures::run(QStringLiteral("ffprobe"),
                           { "-v", "error", "-show_entries", "stream=codec_type,channels", "-of",
                             "csv=p=0", path },
                           &out)
        != 0)
        return { QStringLiteral("(unreadable)") };
    QStringList kinds;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.first().isEmpty())
            continue;
        QString kind = QString::fromLatin1(f.first());
        if (kind == QLatin1String("data"))
            continue; // MP4's chapter track: the chapters of joined segments, not a track
        if (kind == QLatin1String("audio") && f.size() > 1)
            kind += QStringLiteral(" %1ch").arg(QString::fromLatin1(f.at(1)));
        kinds << kind;
    }
    return kinds;
}

} // namespace TrackMedia
