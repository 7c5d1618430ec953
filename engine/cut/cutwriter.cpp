#include "cutwriter.h"

#include "avcompat.h"
#include "averror.h"
#include "containerfacts.h"
#include "nalunits.h"
#include "packetdata.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

Error OutOfMemory()
{
    return Error { ErrorCode::EncoderFailed, QStringLiteral("Out of memory.") };
}

namespace {

// A failure of the output file: the disk full, or the destination unusable otherwise.
Error writeFailure(const QString &what, int code)
{
    const bool full = code == AVERROR(ENOSPC)
#ifdef EDQUOT
        || code == AVERROR(EDQUOT)
#endif
        ;
    return Error { full ? ErrorCode::DestinationFull : ErrorCode::DestinationUnusable,
                   QStringLiteral("%1: %2").arg(what, AvErrorText(code)) };
}

QString describe(const AVStream *st)
{
    const AVDictionaryEntry *lang = av_dict_get(st->metadata, "language", nullptr, 0);
    return QStringLiteral("%1 %2 stream %3%4")
        .arg(QString::fromLatin1(av_get_media_type_string(st->codecpar->codec_type)),
             QString::fromLatin1(avcodec_get_name(st->codecpar->codec_id)))
        .arg(st->index)
        .arg(lang ? QStringLiteral(" (%1)").arg(QString::fromUtf8(lang->value)) : QString());
}

bool setExtradata(AVCodecParameters *par, const QByteArray &data)
{
    av_freep(&par->extradata);
    par->extradata_size = 0;
    par->extradata
        = static_cast<uint8_t *>(av_mallocz(size_t(data.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    memcpy(par->extradata, data.constData(), size_t(data.size()));
    par->extradata_size = int(data.size());
    return true;
}

// A FLAC header states the stream's sample count and the MD5 of all its samples; a cut has
// fewer, and the muxer only rewrites the header for an encoder. Both become "unknown" (0),
// so that players measure the cut instead of believing the source's length.
void forgetFlacLength(AVCodecParameters *par)
{
    // STREAMINFO (34 bytes, alone or after the "fLaC" marker and a block header): the sample
    // count is its bits 108 to 143, the MD5 its last 16 bytes.
    int at = -1;
    if (par->extradata_size == 34)
        at = 0;
    else if (par->extradata_size >= 42 && memcmp(par->extradata, "fLaC", 4) == 0)
        at = 8;
    if (at < 0)
        return;
    uint8_t *info = par->extradata + at;
    info[13] &= 0xf0;
    memset(info + 14, 0, 4 + 16);
}

// The MP3 muxer takes the encoder delay for its header from the first packet that tells how
// many samples to skip, less the decoder's own delay of 529 samples; read as unsigned, a skip
// below that (the end of the source's last packet, which only trims its padding, skips 0)
// wraps around into thousands of samples, and players start the cut that much late. A cut
// that starts inside the stream has no delay of its own: such skips become the decoder's.
constexpr quint32 kMp3DecoderDelay = 529;

void keepMp3DelayInRange(AVPacket *packet)
{
    size_t size = 0;
    uint8_t *skip = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 10 && AV_RL32(skip) < kMp3DecoderDelay)
        AV_WL32(skip, kMp3DecoderDelay);
}

// CRCs of FLAC frames: CRC-8 (x^8 + x^2 + x + 1) of the header, CRC-16 (x^16 + x^15 + x^2 + 1)
// of the whole frame, both most significant bit first and starting from 0.
quint16 flacCrc(const uchar *data, qsizetype size, int bits, quint16 poly)
{
    const quint32 top = 1u << (bits - 1);
    const quint32 mask = (1u << bits) - 1;
    quint32 crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= quint32(data[i]) << (bits - 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & top) ? ((crc << 1) ^ poly) & mask : (crc << 1) & mask;
    }
    return quint16(crc);
}

// A FLAC frame's header numbers the frame (or its first sample) from the start of the stream,
// and raw FLAC readers take its time from that number: a cut's frames are numbered anew from
// *first, the number of the cut's first frame (taken from it when it is -1). A packet that is
// not one whole frame with valid CRCs is left as it is.
void renumberFlacFrame(AVPacket *packet, qint64 *first)
{
    const uchar *d = packet->data;
    const int n = packet->size;
    if (!d || n < 8 || d[0] != 0xff || (d[1] & 0xfe) != 0xf8 || d[4] == 0xff)
        return;
    // The number, coded like UTF-8 (up to 36 bits in 7 bytes).
    int length = 1;
    while (length < 8 && (d[4] & (0x80 >> (length - 1))))
        ++length;
    length = length == 1 ? 1 : length - 1;
    if (length == 1 && (d[4] & 0x80))
        return; // a continuation byte cannot begin the number
    if (length > 7 || 4 + length >= n)
        return;
    quint64 number = length == 1 ? d[4] : d[4] & (0xff >> (length + 1));
    for (int i = 1; i < length; ++i) {
        if ((d[4 + i] & 0xc0) != 0x80)
            return;
        number = (number << 6) | (d[4 + i] & 0x3f);
    }
    // The block size and the sample rate that their codes leave to bytes after the number.
    static constexpr int kBlockBytes[16] = { 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0 };
    static constexpr int kRateBytes[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 2, 0 };
    const int extra = kBlockBytes[d[2] >> 4] + kRateBytes[d[2] & 0x0f];
    const int crcAt = 4 + length + extra;
    if (crcAt + 3 > n || flacCrc(d, crcAt, 8, 0x07) != d[crcAt]
        || flacCrc(d, n - 2, 16, 0x8005) != ((d[n - 2] << 8) | d[n - 1]))
        return;
    if (*first < 0)
        *first = qint64(number);
    const quint64 renumbered = number >= quint64(*first) ? number - quint64(*first) : 0;
    if (renumbered == number)
        return;

    QByteArray frame(reinterpret_cast<const char *>(d), 4);
    if (renumbered < 0x80) {
        frame.append(char(renumbered));
    } else {
        int bytes = 2;
        while (bytes < 7 && renumbered >= (quint64(1) << (5 * bytes + 1)))
            ++bytes;
        frame.append(char((0xff00 >> bytes) | (renumbered >> (6 * (bytes - 1)))));
        for (int i = bytes - 2; i >= 0; --i)
            frame.append(char(0x80 | ((renumbered >> (6 * i)) & 0x3f)));
    }
    frame.append(reinterpret_cast<const char *>(d) + 4 + length, extra);
    frame.append(
        char(flacCrc(reinterpret_cast<const uchar *>(frame.constData()), frame.size(), 8, 0x07)));
    frame.append(reinterpret_cast<const char *>(d) + crcAt + 1, n - 2 - (crcAt + 1));
    const quint16 crc
        = flacCrc(reinterpret_cast<const uchar *>(frame.constData()), frame.size(), 16, 0x8005);
    frame.append(char(crc >> 8));
    frame.append(char(crc & 0xff));

    ReplacePacketData(packet, frame); // out of memory: the packet stays as it was
}

// The muxer the output path's extension names; without one (or an unknown one), the one that
// writes the source's kind of file.
const AVOutputFormat *outputFormat(const QString &path, const QByteArray &file,
                                   const AVFormatContext *input)
{
    const AVOutputFormat *format = av_guess_format(nullptr, file.constData(), nullptr);
    if (!format || QFileInfo(path).suffix().isEmpty()) {
        const QByteArray muxer
            = MuxerForInputFormat(QString::fromLatin1(input->iformat->name)).toLatin1();
        format = av_guess_format(muxer.constData(), nullptr, nullptr);
    }
    return format;
}

// Chapters that overlap the range, cut to it and shifted to begin at 0.
void copyChapters(AVFormatContext *out, const AVFormatContext *input, qint64 zeroMicros,
                  qint64 endMicros)
{
    for (unsigned c = 0; c < input->nb_chapters; ++c) {
        const AVChapter *in = input->chapters[c];
        const qint64 zero = av_rescale_q(zeroMicros, AV_TIME_BASE_Q, in->time_base);
        const qint64 end = av_rescale_q(endMicros, AV_TIME_BASE_Q, in->time_base);
        if (in->end <= zero || in->start >= end)
            continue;
        auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (!chapter)
            continue;
        chapter->id = in->id;
        chapter->time_base = in->time_base;
        chapter->start = std::max<qint64>(in->start, zero) - zero;
        chapter->end = std::min<qint64>(in->end, end) - zero;
        av_dict_copy(&chapter->metadata, in->metadata, 0);
        if (av_dynarray_add_nofree(&out->chapters, reinterpret_cast<int *>(&out->nb_chapters),
                                   chapter)
            < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
        }
    }
}

} // namespace

bool CutWriter::isMatroska() const
{
    return m_ctx
        && (qstrcmp(m_ctx->oformat->name, "matroska") == 0
            || qstrcmp(m_ctx->oformat->name, "webm") == 0);
}

bool CutWriter::configInStream() const
{
    return m_ctx && !(m_ctx->oformat->flags & AVFMT_GLOBALHEADER);
}

Outcome CutWriter::open(const QString &path, AVFormatContext *input, const VideoOverride &video,
                        qint64 zeroMicros, qint64 endMicros)
{
    m_input = input;
    m_zero = zeroMicros;
    m_videoInput = video.inputIndex;
    const QByteArray file = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    const AVOutputFormat *format = outputFormat(path, file, input);
    if (!format)
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("No container format is known for %1.").arg(path) };
    AVFormatContext *raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0 || !raw)
        return Error { ErrorCode::EncoderFailed, QStringLiteral("The output cannot be set up.") };
    m_ctx.reset(raw);
    m_mp3 = qstrcmp(format->name, "mp3") == 0;
    av_dict_copy(&raw->metadata, input->metadata, 0);
    // Matroska stores presentation times only; the muxer derives decoding times from them.
    m_dtsByMuxer = isMatroska();
    if (Outcome added = addStreams(video); !added)
        return added;
    // A video left out by the choice of streams times nothing: the end is the other streams'.
    if (m_videoInput >= 0 && outputIndex(m_videoInput) < 0)
        m_videoInput = -1;
    readNalLengthSize(video);
    if (!m_ownChapters)
        copyChapters(raw, input, zeroMicros, endMicros);
    else if (!isMatroska())
        putChapters();
    return start(file);
}

Outcome CutWriter::addStreams(const VideoOverride &video)
{
    const AVOutputFormat *format = m_ctx->oformat;
    const bool matroska = isMatroska();
    m_map.assign(m_input->nb_streams, -1);
    for (unsigned i = 0; i < m_input->nb_streams; ++i) {
        if (!m_chosen.isEmpty() && !m_chosen.contains(int(i)))
            continue;
        const AVStream *in = m_input->streams[i];
        const AVCodecParameters *par = in->codecpar;
        // Attachments (fonts) exist only in Matroska; the other streams go where the muxer
        // knows their codec.
        const bool carried = par->codec_type == AVMEDIA_TYPE_ATTACHMENT
            ? matroska
            : par->codec_id != AV_CODEC_ID_NONE
                && (par->codec_type == AVMEDIA_TYPE_VIDEO || par->codec_type == AVMEDIA_TYPE_AUDIO
                    || par->codec_type == AVMEDIA_TYPE_SUBTITLE)
                && avformat_query_codec(format, par->codec_id, FF_COMPLIANCE_NORMAL) != 0;
        // The demuxer's own stream of an MP4's chapter titles: the chapters are written from
        // the chapter list.
        const bool chapterTitles = par->codec_type == AVMEDIA_TYPE_DATA
            && in->discard == AVDISCARD_ALL && m_input->nb_chapters > 0;
        if (!carried) {
            if (!chapterTitles)
                m_leftOut << describe(in);
            continue;
        }
        if (Outcome added = addStream(i, video); !added)
            return added;
    }
    if (m_map.empty() || std::all_of(m_map.begin(), m_map.end(), [](int m) { return m < 0; }))
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The output container can carry none of the source's "
                                      "streams.") };
    return {};
}

Outcome CutWriter::addStream(unsigned i, const VideoOverride &video)
{
    const AVOutputFormat *format = m_ctx->oformat;
    const AVStream *in = m_input->streams[i];
    const AVCodecParameters *par = in->codecpar;
    AVStream *out = avformat_new_stream(m_ctx.get(), nullptr);
    if (!out || avcodec_parameters_copy(out->codecpar, par) < 0)
        return Error { ErrorCode::EncoderFailed, QStringLiteral("The output cannot be set up.") };
    if (par->codec_id == AV_CODEC_ID_FLAC)
        keepFlacInfo(out, format);
    // Keep the source's codec tag where the container knows it for this codec.
    unsigned tag = 0;
    if (!format->codec_tag || av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id
        || !av_codec_get_tag2(format->codec_tag, par->codec_id, &tag))
        out->codecpar->codec_tag = par->codec_tag;
    else
        out->codecpar->codec_tag = 0;
    out->time_base = in->time_base;
    out->avg_frame_rate = in->avg_frame_rate;
    out->r_frame_rate = in->r_frame_rate;
    out->sample_aspect_ratio = in->sample_aspect_ratio;
    out->disposition = in->disposition;
    av_dict_copy(&out->metadata, in->metadata, 0);
    CopyStreamSideData(in, out);
    if (int(i) == video.inputIndex) {
        if (!video.extradata.isEmpty() && !setExtradata(out->codecpar, video.extradata))
            return OutOfMemory();
        if (video.codecTag && format->codec_tag
            && av_codec_get_id(format->codec_tag, video.codecTag) == par->codec_id)
            out->codecpar->codec_tag = video.codecTag;
    }
    const bool mpegVideo
        = par->codec_id == AV_CODEC_ID_MPEG2VIDEO || par->codec_id == AV_CODEC_ID_MPEG1VIDEO;
    const QByteArray muxer(format->name);
    if (mpegVideo && m_pictureAligned < 0
        && (muxer == "mpeg" || muxer == "vob" || muxer == "dvd" || muxer == "svcd"
            || muxer == "vcd"))
        m_pictureAligned = out->index;
    m_map[i] = out->index;
    return {};
}

// A FLAC stream declares no length (the cut's is not the source's); a FLAC file's header is
// kept to be written again at the end.
void CutWriter::keepFlacInfo(AVStream *out, const AVOutputFormat *format)
{
    forgetFlacLength(out->codecpar);
    if (qstrcmp(format->name, "flac") == 0 && out->codecpar->extradata_size >= 34) {
        m_flacInfo.resize(size_t(out->index) + 1);
        m_flacInfo[size_t(out->index)]
            = QByteArray(reinterpret_cast<const char *>(out->codecpar->extradata)
                             + out->codecpar->extradata_size - 34,
                         34);
    }
}

void CutWriter::readNalLengthSize(const VideoOverride &video)
{
    if (video.inputIndex < 0 || m_map[size_t(video.inputIndex)] < 0)
        return;
    const AVCodecParameters *out = m_ctx->streams[m_map[size_t(video.inputIndex)]]->codecpar;
    const QByteArray extra(reinterpret_cast<const char *>(out->extradata), out->extradata_size);
    const AVCodecID codec = m_input->streams[video.inputIndex]->codecpar->codec_id;
    if (NalUnits::isConfigRecord(extra))
        m_nalLengthSize = codec == AV_CODEC_ID_HEVC ? NalUnits::parseHevcConfig(extra).lengthSize
                                                    : NalUnits::parseAvcConfig(extra).lengthSize;
}

Outcome CutWriter::start(const QByteArray &file)
{
    AVFormatContext *raw = m_ctx.get();
    const AVOutputFormat *format = raw->oformat;
    if (!(format->flags & AVFMT_NOFILE)) {
        const int r
            = avio_open(&raw->pb, (QByteArrayLiteral("file:") + file).constData(), AVIO_FLAG_WRITE);
        if (r < 0)
            return writeFailure(QStringLiteral("The output file cannot be created"), r);
    }
    // Keys in reverse-DNS form ("com.apple.quicktime.make", a phone's make and model) come
    // from an MP4's "keys" box; the muxer writes them only with every tag in such a box.
    AvDictionary options;
    const AVDictionaryEntry *key = nullptr;
    bool keyed = false;
    while (!keyed && (key = av_dict_get(raw->metadata, "", key, AV_DICT_IGNORE_SUFFIX)))
        keyed = strchr(key->key, '.') != nullptr;
    const AVClass *muxerClass = format->priv_class;
    if (keyed && muxerClass
        && av_opt_find(&muxerClass, "movflags", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
        options.set("movflags", "+use_metadata_tags");
        // The file type box is the muxer's own, not a tag.
        for (const char *brand : { "major_brand", "minor_version", "compatible_brands" })
            av_dict_set(&raw->metadata, brand, nullptr, 0);
    }
    const int r = avformat_write_header(raw, options.address());
    if (r < 0)
        return writeFailure(QStringLiteral("The output cannot be started"), r);
    m_headerWritten = true;
    return {};
}

int CutWriter::outputIndex(int inputIndex) const
{
    return inputIndex >= 0 && size_t(inputIndex) < m_map.size() ? m_map[size_t(inputIndex)] : -1;
}

Outcome CutWriter::write(AVPacket *packet, int inputIndex)
{
    const int out = outputIndex(inputIndex);
    if (out < 0) {
        av_packet_unref(packet);
        return {};
    }
    toOutputTime(packet, inputIndex, out);
    if (m_joined && !keepJoinedOrder(packet, out)) {
        av_packet_unref(packet);
        return {};
    }
    noteEnd(packet, out);
    if (inputIndex == m_videoInput)
        ++m_videoPackets;
    if (m_mp3)
        keepMp3DelayInRange(packet);
    if (size_t(out) < m_flacInfo.size() && !m_flacInfo[size_t(out)].isEmpty())
        carryFlacHeader(packet, out);
    return out == m_pictureAligned ? holdPicture(packet) : mux(packet);
}

Outcome CutWriter::holdPicture(AVPacket *packet)
{
    AvPacketPtr next(av_packet_alloc());
    if (!next)
        return OutOfMemory();
    av_packet_move_ref(next.get(), packet);
    if (m_held) {
        const QByteArray data = PacketBytes(next.get());
        const qsizetype picture = data.indexOf(QByteArray("\0\0\1\0", 4));
        if (picture > 0
            && (!ReplacePacketData(m_held.get(), PacketBytes(m_held.get()) + data.left(picture))
                || !ReplacePacketData(next.get(), data.mid(picture))))
            return OutOfMemory();
        const AvPacketPtr held = std::move(m_held);
        if (Outcome written = mux(held.get()); !written)
            return written;
    }
    m_held = std::move(next);
    return {};
}

Outcome CutWriter::mux(AVPacket *packet)
{
    const int r = av_interleaved_write_frame(m_ctx.get(), packet);
    // The muxer refuses a packet as invalid when its timestamps run backwards.
    if (r == AVERROR(EINVAL))
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The source's timestamps run backwards in the range (a "
                                      "recording appended to another?), which the output "
                                      "cannot hold") };
    if (r < 0)
        return writeFailure(QStringLiteral("The output could not be written"), r);
    return {};
}

void CutWriter::toOutputTime(AVPacket *packet, int inputIndex, int out)
{
    const AVRational inBase = m_input->streams[inputIndex]->time_base;
    const qint64 shift = av_rescale_q(m_zero - m_offset, AV_TIME_BASE_Q, inBase);
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts -= shift;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts -= shift;
    if (inputIndex == m_videoInput && m_dtsByMuxer && packet->pts != AV_NOPTS_VALUE)
        deriveDts(packet, inputIndex);
    av_packet_rescale_ts(packet, inBase, m_ctx->streams[out]->time_base);
    packet->stream_index = out;
    packet->pos = -1;
}

// Matroska keeps presentation times only: decoding times are derived from them the way
// libavformat does, each the smallest of the last delay + 1 presentation times.
void CutWriter::deriveDts(AVPacket *packet, int inputIndex)
{
    const int delay = std::clamp(m_input->streams[inputIndex]->codecpar->video_delay, 0, 16);
    if (m_ptsBuffer.empty())
        m_ptsBuffer.assign(size_t(delay) + 1, AV_NOPTS_VALUE);
    const qint64 step = packet->duration > 0 ? packet->duration : 1;
    m_ptsBuffer[0] = packet->pts;
    for (int i = 1; i <= delay && m_ptsBuffer[size_t(i)] == AV_NOPTS_VALUE; ++i)
        m_ptsBuffer[size_t(i)] = packet->pts + (i - delay - 1) * step;
    for (int i = 0; i < delay && m_ptsBuffer[size_t(i)] > m_ptsBuffer[size_t(i) + 1]; ++i)
        std::swap(m_ptsBuffer[size_t(i)], m_ptsBuffer[size_t(i) + 1]);
    packet->dts = m_ptsBuffer[0];
}

void CutWriter::carryFlacHeader(AVPacket *packet, int out)
{
    m_flacFirst.resize(m_flacInfo.size(), -1);
    renumberFlacFrame(packet, &m_flacFirst[size_t(out)]);
    // The header with the samples so far: the last packet's is the one the file keeps.
    m_flacSamples.resize(m_flacInfo.size());
    const AVStream *st = m_ctx->streams[out];
    m_flacSamples[size_t(out)] += av_rescale_q(
        packet->duration, st->time_base, AVRational { 1, std::max(1, st->codecpar->sample_rate) });
    const quint64 samples = quint64(m_flacSamples[size_t(out)]) & ((quint64(1) << 36) - 1);
    QByteArray &info = m_flacInfo[size_t(out)];
    info[13] = char((uchar(info.at(13)) & 0xf0) | (samples >> 32));
    for (int i = 0; i < 4; ++i)
        info[14 + i] = char((samples >> (24 - 8 * i)) & 0xff);
    uint8_t *side = av_packet_new_side_data(packet, AV_PKT_DATA_NEW_EXTRADATA, 34);
    if (side)
        memcpy(side, info.constData(), 34);
}

void CutWriter::setShift(qint64 zeroMicros, qint64 offsetMicros)
{
    m_zero = zeroMicros;
    m_offset = offsetMicros;
    m_joined = true;
}

bool CutWriter::keepJoinedOrder(AVPacket *packet, int out)
{
    const size_t o = size_t(out);
    m_lastDts.resize(m_ctx->nb_streams, AV_NOPTS_VALUE);
    m_lastEnd.resize(m_ctx->nb_streams, AV_NOPTS_VALUE);
    const bool audio = m_ctx->streams[out]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    if (audio && packet->pts != AV_NOPTS_VALUE && m_lastEnd[o] != AV_NOPTS_VALUE
        && packet->pts < m_lastEnd[o]) {
        if (2 * (m_lastEnd[o] - packet->pts) > packet->duration)
            return false;
        packet->dts = packet->pts = m_lastEnd[o];
    }
    if (packet->dts != AV_NOPTS_VALUE && m_lastDts[o] != AV_NOPTS_VALUE
        && packet->dts <= m_lastDts[o])
        packet->dts = m_lastDts[o] + 1;
    if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE && packet->pts < packet->dts)
        packet->pts = packet->dts;
    if (packet->dts != AV_NOPTS_VALUE)
        m_lastDts[o] = packet->dts;
    if (audio && packet->pts != AV_NOPTS_VALUE)
        m_lastEnd[o] = packet->pts + packet->duration;
    return true;
}

void CutWriter::noteEnd(const AVPacket *packet, int out)
{
    if (packet->pts == AV_NOPTS_VALUE)
        return;
    const AVStream *st = m_ctx->streams[out];
    const bool video = m_videoInput >= 0 ? out == outputIndex(m_videoInput)
                                         : st->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE;
    if (!video)
        return;
    qint64 duration = packet->duration;
    if (duration <= 0 && m_videoInput >= 0) {
        const AVRational rate = m_input->streams[m_videoInput]->avg_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            duration = av_rescale_q(1, av_inv_q(rate), st->time_base);
    }
    m_endMicros = std::max<qint64>(
        m_endMicros, av_rescale_q(packet->pts + duration, st->time_base, AV_TIME_BASE_Q));
}

void CutWriter::setChapters(const QList<Chapter> &chapters)
{
    m_chapters = chapters;
    m_ownChapters = true;
}

void CutWriter::putChapters()
{
    AVFormatContext *out = m_ctx.get();
    // The muxer may hold the chapters' number since the header: the same ones get new times.
    if (out->nb_chapters != unsigned(m_chapters.size())) {
        for (unsigned c = 0; c < out->nb_chapters; ++c) {
            av_dict_free(&out->chapters[c]->metadata);
            av_freep(&out->chapters[c]);
        }
        av_freep(&out->chapters);
        out->nb_chapters = 0;
        for (qsizetype k = 0; k < m_chapters.size(); ++k) {
            auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
            if (!chapter
                || av_dynarray_add_nofree(&out->chapters,
                                          reinterpret_cast<int *>(&out->nb_chapters), chapter)
                    < 0) {
                av_free(chapter);
                return;
            }
            chapter->id = k + 1;
        }
    }
    for (unsigned c = 0; c < out->nb_chapters; ++c) {
        const Chapter &from = m_chapters.at(c);
        AVChapter *chapter = out->chapters[c];
        chapter->time_base = AV_TIME_BASE_Q;
        chapter->start = std::max<qint64>(0, from.startMicros);
        chapter->end = std::max<qint64>(chapter->start, from.endMicros);
        av_dict_set(&chapter->metadata, "title",
                    from.title.isEmpty() ? nullptr : from.title.toUtf8().constData(), 0);
    }
}

Outcome CutWriter::finish()
{
    if (!m_headerWritten)
        return Error { ErrorCode::EncoderFailed, QStringLiteral("The output was never opened.") };
    // Matroska writes chapters it did not have at the header after the clusters; MP4 reads
    // their times at the end.
    if (m_held) {
        const AvPacketPtr held = std::move(m_held);
        if (Outcome written = mux(held.get()); !written)
            return written;
    }
    if (m_ownChapters)
        putChapters();
    int r = av_write_trailer(m_ctx.get());
    if (r >= 0 && m_ctx->pb) {
        avio_flush(m_ctx->pb);
        r = m_ctx->pb->error;
    }
    if (r >= 0 && !(m_ctx->oformat->flags & AVFMT_NOFILE))
        r = avio_closep(&m_ctx->pb);
    if (r < 0)
        return writeFailure(QStringLiteral("The output could not be written"), r);
    return {};
}

qint64 CutWriter::bytesWritten() const
{
    return m_ctx && m_ctx->pb ? avio_tell(m_ctx->pb) : 0;
}
