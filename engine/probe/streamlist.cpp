#include "streamlist.h"

#include "avhandles.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString tag(const AVDictionary *metadata, const char *key)
{
    const AVDictionaryEntry *entry = av_dict_get(metadata, key, nullptr, 0);
    return entry ? QString::fromUtf8(entry->value).trimmed() : QString();
}

SourceStream::Kind kindOf(const AVStream *stream)
{
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return SourceStream::Kind::Other;
    switch (stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return SourceStream::Kind::Video;
    case AVMEDIA_TYPE_AUDIO:
        return SourceStream::Kind::Audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return SourceStream::Kind::Subtitle;
    default:
        return SourceStream::Kind::Other;
    }
}

} // namespace

Result<QList<SourceStream>> ListStreams(const QString &path)
{
    const QFileInfo info(path);
    // A pipe or a device would block the reader; only regular files are opened.
    if (path.isEmpty() || !info.isFile())
        return Error { ErrorCode::SourceUnreadable,
                       info.exists() ? QStringLiteral("Not a regular file.")
                                     : QStringLiteral("File not found.") };
    // The "file:" protocol keeps names with a colon from being read as another protocol.
    const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(info.absoluteFilePath());
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, url.constData(), nullptr, nullptr) < 0)
        return Error { ErrorCode::SourceUnreadable,
                       QStringLiteral("Not a media file, or a damaged one.") };
    const AvInputPtr ctx(opened);
    if (avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("Not a media file, or a damaged one.") };
    QList<SourceStream> streams;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        const AVCodecParameters *par = st->codecpar;
        SourceStream s;
        s.index = int(i);
        s.kind = kindOf(st);
        s.codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
        if (par->codec_id == AV_CODEC_ID_NONE)
            s.codec.clear();
        s.language = tag(st->metadata, "language");
        if (s.language == QLatin1String("und"))
            s.language.clear();
        s.title = tag(st->metadata, "title");
        if (s.kind == SourceStream::Kind::Audio) {
            s.channels = par->ch_layout.nb_channels;
            s.sampleRate = par->sample_rate;
        }
        if (s.kind == SourceStream::Kind::Video) {
            s.width = par->width;
            s.height = par->height;
        }
        s.isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
        streams << s;
    }
    return streams;
}

QList<SourceStream> ListStreamsOrNone(const QString &path)
{
    Result<QList<SourceStream>> streams = ListStreams(path);
    return streams ? std::move(streams).value() : QList<SourceStream>();
}
