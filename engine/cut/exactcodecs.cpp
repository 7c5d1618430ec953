#include "exactcodecs.h"

#include "av1obus.h"
#include "edgeencoder.h"
#include "nalrewrite.h"
#include "nalunits.h"
#include "packetdata.h"

#include <QStringList>

namespace {

// Video packets looked at for an MPEG-4 part 2 stream's first picture.
constexpr int kHeaderPackets = 64;

QString codecName(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_MPEG4:
        return QStringLiteral("MPEG-4 part 2");
    case AV_CODEC_ID_MPEG2VIDEO:
        return QStringLiteral("MPEG-2");
    default:
        return QString::fromLatin1(avcodec_get_name(codec)).toUpper();
    }
}

// The container families (the first name of libavformat's reader) each codec is cut to the
// frame in: those whose muxer writes the new frames beside the copied ones as the source has
// them (AVI only for MPEG-4 part 2, whose players know it there).
bool containerCarries(AVCodecID codec, const QString &family)
{
    const bool isoOrMatroska
        = family == QLatin1String("mov") || family == QLatin1String("matroska");
    switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG2VIDEO:
        return isoOrMatroska || family == QLatin1String("mpegts")
            || family == QLatin1String("mpeg");
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
        return isoOrMatroska;
    case AV_CODEC_ID_MPEG4:
        return isoOrMatroska || family == QLatin1String("avi");
    default:
        return false;
    }
}

QString containersFor(AVCodecID codec)
{
    switch (codec) {
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
        return QStringLiteral("a WebM, Matroska or MP4 file");
    case AV_CODEC_ID_MPEG4:
        return QStringLiteral("an AVI, MP4 or Matroska file");
    default:
        return QStringLiteral("an MP4, MOV, Matroska, WebM, MPEG-TS or MPEG-PS file");
    }
}

// The first picture of an MPEG-4 part 2 stream (with the headers before it): its user data
// says whether the B-frames are packed.
QByteArray firstMpeg4Picture(SourceReader &reader)
{
    AVFormatContext *ctx = reader.context();
    AvPacketPtr packet = MakePacket();
    const int video = reader.videoIndex();
    QByteArray data;
    for (int i = 0; i < kHeaderPackets && av_read_frame(ctx, packet.get()) >= 0; ++i) {
        const bool found = packet->stream_index == video;
        if (found)
            data = PacketBytes(packet.get());
        av_packet_unref(packet.get());
        if (found)
            break;
    }
    return data;
}

} // namespace

namespace ExactCodecs {

QString obstacle(SourceReader &reader)
{
    const AVStream *video = reader.videoStream();
    if (!video)
        return QString();
    const AVCodecParameters *par = video->codecpar;
    const AVCodecID codec = par->codec_id;
    const QString family
        = QString::fromLatin1(reader.context()->iformat->name).section(QLatin1Char(','), 0, 0);
    if (codec != AV_CODEC_ID_H264 && codec != AV_CODEC_ID_HEVC && codec != AV_CODEC_ID_MPEG2VIDEO
        && codec != AV_CODEC_ID_VP9 && codec != AV_CODEC_ID_MPEG4 && codec != AV_CODEC_ID_AV1)
        return QStringLiteral("the video is %1; exact cuts need H.264, HEVC, MPEG-2, MPEG-4 "
                              "part 2, VP9 or AV1 video")
            .arg(codecName(codec));
    // The copied key frame after new frames brings the source's sequence header back; it is
    // taken from the decoder configuration.
    if (codec == AV_CODEC_ID_AV1
        && Av1Obus::configSequenceHeader(
               QByteArray(reinterpret_cast<const char *>(par->extradata), par->extradata_size))
               .isEmpty())
        return QStringLiteral("the AV1 video's decoder configuration holds no sequence header "
                              "to bring back after the re-encoded frames");
    if (!containerCarries(codec, family))
        return QStringLiteral("exact cuts of %1 video need %2")
            .arg(codecName(codec), containersFor(codec));
    QString reason;
    if (!EdgeEncoder::canEncode(par, &reason))
        return reason;
    if (codec == AV_CODEC_ID_MPEG4
        && (packedBitstream(
                QByteArray(reinterpret_cast<const char *>(par->extradata), par->extradata_size))
            || packedBitstream(firstMpeg4Picture(reader))))
        // A packed packet holds a copied P-frame together with a B-frame that needs the
        // frame before it: the two cannot be parted without rewriting the stream.
        return QStringLiteral("the video's B-frames are packed (DivX style), two frames in one "
                              "packet");
    return QString();
}

bool usesNalUnits(AVCodecID codec)
{
    return codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC;
}

bool codedInterlaced(const AVCodecParameters *par)
{
    if (par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE)
        return true;
    if (par->codec_id != AV_CODEC_ID_H264)
        return false;
    const QByteArray extra(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
    const QList<QByteArray> units = NalUnits::isConfigRecord(extra)
        ? NalUnits::parseAvcConfig(extra).sps
        : NalUnits::split(extra, 0);
    for (const QByteArray &u : units) {
        if (NalUnits::h264Type(u) != NalUnits::H264Sps)
            continue;
        const NalRewrite::H264Sps sps = NalRewrite::parseH264Sps(u);
        if (sps.ok && !sps.frameMbsOnly)
            return true;
    }
    return false;
}

bool headersInStream(AVCodecID codec)
{
    return codec == AV_CODEC_ID_MPEG4 || codec == AV_CODEC_ID_AV1;
}

bool lacksInBandHeader(AVCodecID codec, const AVPacket *packet)
{
    const bool startCode
        = packet->size >= 4 && packet->data[0] == 0 && packet->data[1] == 0 && packet->data[2] == 1;
    const int code = startCode ? packet->data[3] : -1;
    if (codec == AV_CODEC_ID_AV1)
        return Av1Obus::sequenceHeader(PacketBytes(packet)).isEmpty();
    if (codec == AV_CODEC_ID_MPEG2VIDEO)
        return code != 0xb3; // sequence header
    if (codec == AV_CODEC_ID_MPEG4)
        // A visual object sequence or visual object (0xb0, 0xb5), a video object (0x00..0x1f) or
        // a video object layer (0x20..0x2f); a group of pictures (0xb3) alone does not count.
        return code != 0xb0 && code != 0xb5 && (code < 0 || code > 0x2f);
    return false;
}

bool packedBitstream(const QByteArray &data)
{
    // User data (00 00 01 B2) "DivX" version digits, "b" build digits, and a closing "p".
    const QByteArray mark("\0\0\1\xb2"
                          "DivX",
                          8);
    for (qsizetype at = data.indexOf(mark); at >= 0; at = data.indexOf(mark, at + 1)) {
        qsizetype end = at + 8;
        while (end < data.size() && data.at(end) != '\0')
            ++end;
        if (end > at + 8 && data.at(end - 1) == 'p')
            return true;
    }
    return false;
}

} // namespace ExactCodecs
