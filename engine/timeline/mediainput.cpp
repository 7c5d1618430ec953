#include "mediainput.h"

#include "backgroundjob.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MediaInput", text);
}

Outcome checkReadableFile(const QString &path)
{
    const QFileInfo info(path);
    QString why;
    if (path.isEmpty() || !info.exists())
        why = tr("File not found: %1").arg(path);
    else if (info.isDir())
        why = tr("This is a folder, not a media file: %1").arg(path);
    else if (!info.isFile()) // a pipe or a device would block the reader or never end
        why = tr("Not a regular file (a pipe, device or socket): %1").arg(path);
    else if (!info.isReadable())
        why = tr("The file cannot be read: %1").arg(path);
    else if (info.size() == 0)
        why = tr("The file is empty: %1").arg(path);
    if (why.isEmpty())
        return {};
    return Error { ErrorCode::SourceUnreadable, why };
}

// A failed read of the file: Stopped when the run was cancelled (the reads were interrupted),
// else `code` with the sentence for a file that is not media.
Error readFailure(const QString &path, const JobContext &context, ErrorCode code)
{
    if (context.isCancelled())
        return Error { ErrorCode::Stopped, QString() };
    return Error { code, tr("Not a media file, or a damaged one: %1").arg(path) };
}

} // namespace

bool MediaInput::openForRun(const QString &path, const JobContext &context)
{
    const Outcome opened = open(path, context);
    if (!opened && opened.code() != ErrorCode::Stopped)
        context.fail(opened.error().sentence);
    return opened.ok();
}

Outcome MediaInput::open(const QString &path, const JobContext &context)
{
    m_ctx.reset();
    if (Outcome readable = checkReadableFile(path); !readable)
        return readable;
    AVFormatContext *ctx = avformat_alloc_context();
    if (!ctx)
        return Error { ErrorCode::EncoderFailed,
                       tr("Not enough memory to read this file's timeline.") };
    ctx->interrupt_callback.callback = context.interruptCallback();
    ctx->interrupt_callback.opaque = context.interruptOpaque();
    // The "file:" protocol keeps names with a colon from being read as another protocol.
    const QByteArray url
        = QByteArrayLiteral("file:") + QFile::encodeName(QFileInfo(path).absoluteFilePath());
    // On failure avformat_open_input frees the context itself.
    if (avformat_open_input(&ctx, url.constData(), nullptr, nullptr) < 0)
        return readFailure(path, context, ErrorCode::SourceUnreadable);
    m_ctx.reset(ctx);
    if (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams == 0) {
        m_ctx.reset();
        return readFailure(path, context, ErrorCode::SourceDamaged);
    }
    if (firstStream(AVMEDIA_TYPE_VIDEO) < 0 && firstStream(AVMEDIA_TYPE_AUDIO) < 0) {
        m_ctx.reset();
        return Error { ErrorCode::NotPossible, tr("No audio or video stream in: %1").arg(path) };
    }
    m_start = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
    m_size = QFileInfo(path).size();
    return {};
}

QString MediaInput::formatName() const
{
    return m_ctx ? QString::fromLatin1(m_ctx->iformat->name) : QString();
}

int MediaInput::firstStream(AVMediaType type) const
{
    for (unsigned i = 0; m_ctx && i < m_ctx->nb_streams; ++i) {
        const AVStream *stream = m_ctx->streams[i];
        if (stream->codecpar->codec_type == type
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

int MediaInput::streamOrFirst(int wanted, AVMediaType type) const
{
    if (m_ctx && wanted >= 0 && unsigned(wanted) < m_ctx->nb_streams
        && m_ctx->streams[wanted]->codecpar->codec_type == type)
        return wanted;
    return firstStream(type);
}

qint64 MediaInput::toMicros(qint64 ts, int stream) const
{
    return av_rescale_q(ts, m_ctx->streams[stream]->time_base, AV_TIME_BASE_Q) - m_start;
}

qint64 MediaInput::toStreamTime(qint64 micros, int stream) const
{
    return av_rescale_q(micros + m_start, AV_TIME_BASE_Q, m_ctx->streams[stream]->time_base);
}

qint64 MediaInput::durationMicros() const
{
    return m_ctx && m_ctx->duration != AV_NOPTS_VALUE && m_ctx->duration > 0
        ? qint64(m_ctx->duration)
        : -1;
}

qint64 MediaInput::lengthMicros(int stream)
{
    const qint64 stated = durationMicros();
    if (stated > 0 || !m_ctx)
        return stated;
    // Files written without seeking back (Matroska to a pipe, a recording cut short) state no
    // length: the last few megabytes tell where the stream ends.
    constexpr qint64 kTailBytes = qint64(8) << 20;
    if (av_seek_frame(m_ctx.get(), -1, std::max<qint64>(0, m_size - kTailBytes), AVSEEK_FLAG_BYTE)
        < 0)
        return -1;
    qint64 end = -1;
    AvPacketPtr packet = MakePacket();
    while (packet && av_read_frame(m_ctx.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream && PacketTime(packet.get()) != AV_NOPTS_VALUE)
            end = std::max(
                end,
                toMicros(PacketTime(packet.get()) + std::max<qint64>(0, packet->duration), stream));
        av_packet_unref(packet.get());
    }
    return end;
}

double MediaInput::readFraction() const
{
    if (!m_ctx || !m_ctx->pb || m_size <= 0)
        return 0;
    return std::clamp(double(avio_tell(m_ctx->pb)) / double(m_size), 0.0, 1.0);
}

void MediaInput::readOnly(int stream, AVDiscard keep)
{
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i)
        m_ctx->streams[i]->discard = int(i) == stream ? keep : AVDISCARD_ALL;
}

bool MediaInput::nextPacket(int stream, AVPacket *packet, const JobContext &context,
                            bool *readError)
{
    for (;;) {
        av_packet_unref(packet);
        if (context.isCancelled())
            return false;
        const int r = av_read_frame(m_ctx.get(), packet);
        if (r < 0) {
            if (r != AVERROR_EOF && !context.isCancelled())
                *readError = true;
            return false;
        }
        // Packets the demuxer read before the other streams were set aside still come out; so
        // do packets the container marks as not to be shown.
        if (packet->stream_index == stream && !(packet->flags & AV_PKT_FLAG_DISCARD)
            && PacketTime(packet) != AV_NOPTS_VALUE)
            return true;
    }
}

AvCodecPtr MediaInput::openDecoder(int stream, int threads) const
{
    const AVCodecParameters *par = m_ctx->streams[stream]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return {};
    AvCodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0)
        return {};
    decoder->thread_count = std::max(1, threads);
    decoder->pkt_timebase = m_ctx->streams[stream]->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return {};
    return decoder;
}

qint64 PacketTime(const AVPacket *packet)
{
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}
