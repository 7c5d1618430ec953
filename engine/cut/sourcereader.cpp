#include "sourcereader.h"

#include "av1obus.h"
#include "containerfacts.h"
#include "nalunits.h"

#include <QFile>
#include <QFileInfo>

namespace {

// How far before the start the other streams are read: an audio frame near the start may be
// stored before the key frame, and a subtitle shown at the start may have begun well before.
constexpr double kLeadSeconds = 1.0;
constexpr double kSubtitleLeadSeconds = 10.0;

} // namespace

Outcome SourceReader::open(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return Error { ErrorCode::SourceUnreadable,
                       QStringLiteral("The file cannot be read: %1").arg(path) };
    const QString notMedia = QStringLiteral("Not a media file, or a damaged one: %1").arg(path);
    AVFormatContext *raw = nullptr;
    const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(info.absoluteFilePath());
    if (avformat_open_input(&raw, url.constData(), nullptr, nullptr) < 0)
        return Error { ErrorCode::SourceUnreadable, notMedia };
    m_ctx.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        return Error { ErrorCode::SourceDamaged, notMedia };
    m_video = -1;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream *st = raw->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            m_video = int(i);
            break;
        }
    }
    if (m_video >= 0) {
        const AVCodecParameters *par = raw->streams[m_video]->codecpar;
        const QByteArray extra(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
        if (NalUnits::isConfigRecord(extra)) {
            if (par->codec_id == AV_CODEC_ID_H264)
                m_lengthSize = NalUnits::parseAvcConfig(extra).lengthSize;
            else if (par->codec_id == AV_CODEC_ID_HEVC)
                m_lengthSize = NalUnits::parseHevcConfig(extra).lengthSize;
        }
        // Containers that store decoding times only (AVI) give no presentation time to the
        // frames that others are shown before: each gets the decoding time of the next such
        // frame, which is when it is shown.
        AvPacketPtr packet = MakePacket();
        for (int i = 0; i < 64 && av_read_frame(raw, packet.get()) >= 0; ++i) {
            const bool untimed = packet->stream_index == m_video && packet->pts == AV_NOPTS_VALUE
                && packet->dts != AV_NOPTS_VALUE;
            av_packet_unref(packet.get());
            if (untimed) {
                raw->flags |= AVFMT_FLAG_GENPTS;
                break;
            }
        }
    }
    return {};
}

qint64 SourceReader::toStreamTime(double seconds, int stream) const
{
    const qint64 start = m_ctx->start_time != AV_NOPTS_VALUE ? m_ctx->start_time : 0;
    return av_rescale_q(start + qint64(std::llround(seconds * AV_TIME_BASE)), AV_TIME_BASE_Q,
                        m_ctx->streams[stream]->time_base);
}

double SourceReader::toSeconds(qint64 ts, int stream) const
{
    const qint64 start = m_ctx->start_time != AV_NOPTS_VALUE ? m_ctx->start_time : 0;
    return double(av_rescale_q(ts, m_ctx->streams[stream]->time_base, AV_TIME_BASE_Q) - start)
        / AV_TIME_BASE;
}

qint64 SourceReader::packetTime(const AVPacket *packet)
{
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

bool SourceReader::isCleanStart(const AVPacket *packet) const
{
    if (!(packet->flags & AV_PKT_FLAG_KEY))
        return false;
    const AVCodecID codec = m_ctx->streams[m_video]->codecpar->codec_id;
    const QByteArray data
        = QByteArray::fromRawData(reinterpret_cast<const char *>(packet->data), packet->size);
    // An AV1 sync sample may be a key frame decoded earlier and shown only now, or one decoded
    // now and shown later: neither starts a sequence on its own.
    if (codec == AV_CODEC_ID_AV1)
        return Av1Obus::startsShownKeyFrame(data);
    if (codec != AV_CODEC_ID_H264 && codec != AV_CODEC_ID_HEVC)
        return true;
    for (const QByteArray &unit : NalUnits::split(data, m_lengthSize)) {
        if (codec == AV_CODEC_ID_H264 && NalUnits::h264Type(unit) == NalUnits::H264Idr)
            return true;
        const int type = NalUnits::hevcType(unit);
        if (codec == AV_CODEC_ID_HEVC && type >= NalUnits::HevcFirstIrap
            && type <= NalUnits::HevcLastIrap)
            return true;
    }
    return false;
}

bool SourceReader::isRandomAccess(const AVPacket *packet) const
{
    if (!(packet->flags & AV_PKT_FLAG_KEY))
        return false;
    if (m_ctx->streams[m_video]->codecpar->codec_id != AV_CODEC_ID_H264)
        return isCleanStart(packet);
    const QByteArray data
        = QByteArray::fromRawData(reinterpret_cast<const char *>(packet->data), packet->size);
    for (const QByteArray &unit : NalUnits::split(data, m_lengthSize)) {
        const int type = NalUnits::h264Type(unit);
        if (type == NalUnits::H264Idr || NalUnits::h264RecoveryFrameCount(unit) == 0)
            return true;
        if (type >= 1 && type <= 5)
            break; // the units before the first slice carry the picture's messages
    }
    return false;
}

Outcome SourceReader::findEntry(double seconds, bool cleanOnly)
{
    AVFormatContext *ctx = m_ctx.get();
    const qint64 start = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
    double lead = kLeadSeconds;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            lead = kSubtitleLeadSeconds;
    }
    AvPacketPtr packet = MakePacket();
    // Indexed containers land where asked; the others (MPEG-TS, -PS) search timestamps in the
    // bytes and may land later, so the seek is widened until it lands early enough.
    for (const double margin : { lead, lead + 5.0, lead + 30.0, 180.0, 1e9 }) {
        const double target = seconds - margin;
        m_entryAtStart = target <= 0;
        m_entry = start + (m_entryAtStart ? 0 : qint64(target * AV_TIME_BASE));
        if (!rewind())
            continue;
        if (m_video < 0)
            return {};
        const AVStream *video = ctx->streams[m_video];
        bool found = false;
        bool early = false;
        while (!found && read(packet.get())) {
            if (packet->stream_index == m_video
                && (cleanOnly ? isCleanStart(packet.get()) : isRandomAccess(packet.get()))) {
                found = true;
                const qint64 t = packetTime(packet.get());
                early = m_entryAtStart
                    || (t != AV_NOPTS_VALUE
                        && av_rescale_q(t, video->time_base, AV_TIME_BASE_Q) - start
                            <= qint64((seconds - lead / 2) * AV_TIME_BASE));
            }
            av_packet_unref(packet.get());
        }
        if (found && early) {
            if (rewind())
                return {};
            break;
        }
        if (m_entryAtStart)
            break;
    }
    return Error { ErrorCode::NotPossible,
                   QStringLiteral("No key frame was found before the start of the range.") };
}

bool SourceReader::seekBetween(double after, double seconds)
{
    if (m_video < 0)
        return false;
    AVFormatContext *ctx = m_ctx.get();
    AvPacketPtr packet = MakePacket();
    for (const double margin : { 2.0, 7.0, 32.0 }) {
        const double target = seconds - margin;
        if (target <= after)
            return false;
        const qint64 ts = toStreamTime(target, m_video);
        // Reads from the seek point to the first random access point; true when it is early
        // enough (containers without an index may land later than asked).
        auto landsWell = [&] {
            if (av_seek_frame(ctx, m_video, ts, AVSEEK_FLAG_BACKWARD) < 0)
                return -1;
            while (read(packet.get())) {
                const bool found = packet->stream_index == m_video && isRandomAccess(packet.get());
                const qint64 t = packetTime(packet.get());
                av_packet_unref(packet.get());
                if (found) {
                    if (t == AV_NOPTS_VALUE)
                        return -1;
                    const double at = toSeconds(t, m_video);
                    return at <= after ? -1 : at <= seconds ? 1 : 0;
                }
            }
            return -1;
        };
        const int lands = landsWell();
        if (lands < 0)
            return false;
        if (lands > 0)
            return av_seek_frame(ctx, m_video, ts, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    return false;
}

bool SourceReader::rewind()
{
    AVFormatContext *ctx = m_ctx.get();
    m_readError = false;
    int r;
    if (m_entryAtStart) {
        // Containers without an index are read from their first byte: a seek by time to their
        // start may land after the first key frame.
        r = HasNoSeekIndex(QString::fromLatin1(ctx->iformat->name))
            ? av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BYTE)
            : -1;
        if (r < 0)
            r = avformat_seek_file(ctx, -1, INT64_MIN, m_entry, m_entry, 0);
        if (r < 0)
            r = av_seek_frame(ctx, -1, m_entry, AVSEEK_FLAG_BACKWARD);
    } else if (m_video >= 0) {
        r = av_seek_frame(ctx, m_video,
                          av_rescale_q(m_entry, AV_TIME_BASE_Q, ctx->streams[m_video]->time_base),
                          AVSEEK_FLAG_BACKWARD);
    } else {
        r = av_seek_frame(ctx, -1, m_entry, AVSEEK_FLAG_BACKWARD);
    }
    if (r < 0 && m_entryAtStart)
        r = avio_seek(ctx->pb, 0, SEEK_SET) < 0 ? -1 : 0; // unseekable formats read from 0
    return r >= 0;
}

bool SourceReader::read(AVPacket *packet)
{
    const int r = av_read_frame(m_ctx.get(), packet);
    if (r == AVERROR_EOF)
        return false;
    if (r < 0) {
        m_readError = true;
        return false;
    }
    // A damaged file can carry any number as a time; none of these is a media time, and
    // leaving them out keeps every sum of times inside 64 bits.
    constexpr qint64 kLimit = qint64(1) << 60;
    if (packet->pts != AV_NOPTS_VALUE && (packet->pts > kLimit || packet->pts < -kLimit))
        packet->pts = AV_NOPTS_VALUE;
    if (packet->dts != AV_NOPTS_VALUE && (packet->dts > kLimit || packet->dts < -kLimit))
        packet->dts = AV_NOPTS_VALUE;
    if (packet->duration < 0 || packet->duration > (qint64(1) << 40))
        packet->duration = 0;
    return true;
}
