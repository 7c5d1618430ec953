#include "sourcestreams.h"

#include <algorithm>

QString StreamKindName(SourceStream::Kind kind)
{
    switch (kind) {
    case SourceStream::Kind::Video:
        return QStringLiteral("video");
    case SourceStream::Kind::Audio:
        return QStringLiteral("audio");
    case SourceStream::Kind::Subtitle:
        return QStringLiteral("subtitle");
    case SourceStream::Kind::Other:
        break;
    }
    return QStringLiteral("other");
}

QString DescribeStream(const SourceStream &stream)
{
    QStringList parts { StreamKindName(stream.kind) };
    if (!stream.codec.isEmpty())
        parts << stream.codec;
    if (stream.kind == SourceStream::Kind::Video && stream.width > 0 && stream.height > 0)
        parts << QStringLiteral("%1x%2").arg(stream.width).arg(stream.height);
    if (stream.kind == SourceStream::Kind::Audio && stream.channels > 0)
        parts << QStringLiteral("%1 ch").arg(stream.channels);
    if (!stream.language.isEmpty())
        parts << stream.language;
    if (!stream.title.isEmpty())
        parts << QLatin1Char('"') + stream.title + QLatin1Char('"');
    return parts.join(QLatin1Char(' '));
}

QList<int> ConvertDefaultChoice(const QList<SourceStream> &streams, bool withSubtitles)
{
    // The same weighing as ffmpeg's: a default stream wins over any size or channel count.
    constexpr qint64 kDefaultBonus = 5000000;
    const SourceStream *video = nullptr;
    const SourceStream *audio = nullptr;
    const SourceStream *subtitle = nullptr;
    qint64 bestVideo = -1;
    qint64 bestAudio = -1;
    for (const SourceStream &s : streams) {
        const qint64 bonus = s.isDefault ? kDefaultBonus : 0;
        if (s.kind == SourceStream::Kind::Video && qint64(s.width) * s.height + bonus > bestVideo) {
            bestVideo = qint64(s.width) * s.height + bonus;
            video = &s;
        } else if (s.kind == SourceStream::Kind::Audio && s.channels + bonus > bestAudio) {
            bestAudio = s.channels + bonus;
            audio = &s;
        } else if (s.kind == SourceStream::Kind::Subtitle && !subtitle) {
            subtitle = &s;
        }
    }
    QList<int> chosen;
    if (video)
        chosen << video->index;
    if (audio)
        chosen << audio->index;
    if (subtitle && withSubtitles)
        chosen << subtitle->index;
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

const SourceStream *FindStream(const QList<SourceStream> &streams, int index)
{
    for (const SourceStream &s : streams) {
        if (s.index == index)
            return &s;
    }
    return nullptr;
}

bool OffersTrackChoice(const QList<SourceStream> &streams)
{
    int video = 0;
    int audio = 0;
    for (const SourceStream &s : streams) {
        video += s.kind == SourceStream::Kind::Video;
        audio += s.kind == SourceStream::Kind::Audio;
        if (s.kind == SourceStream::Kind::Subtitle)
            return true;
    }
    return video > 1 || audio > 1;
}
