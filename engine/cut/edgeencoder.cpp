#include "edgeencoder.h"

#include "av1obus.h"
#include "avcompat.h"
#include "averror.h"
#include "codeclevels.h"
#include "exactcodecs.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <QStringList>

#include <algorithm>
#include <climits>
#include <span>

// What the encoder is told beyond its context's fields, and the level whose rate caps it.
struct EdgeEncoder::EncoderSetup
{
    AvDictionary opts;
    QStringList params; // x264-params or x265-params
    const CodecLevel *limit = nullptr;
    double factor = 1.0; // of the level's rate, for the profile
};

namespace {

using EncoderSetup = EdgeEncoder::EncoderSetup;

// The level for the new frames: the declared one, or where it may rise, the first one after it
// (in the table's order) whose rate reaches `needed` (bits a second), else the highest.
const CodecLevel *chooseLevel(std::span<const CodecLevel> levels, int declared, double factor,
                              double needed, bool mayRise, bool *limited)
{
    *limited = false;
    auto level = std::find_if(levels.begin(), levels.end(),
                              [declared](const CodecLevel &l) { return l.code == declared; });
    if (level == levels.end())
        return nullptr;
    const auto enough
        = [&](const CodecLevel &l) { return l.maxBitrateKbps * factor * 1000 >= needed; };
    if (mayRise) {
        while (!enough(*level) && level + 1 != levels.end())
            ++level;
    }
    *limited = !enough(*level);
    return &*level;
}

// The headroom over the source's own bit rate that encoding for fidelity needs on grainy
// pictures (measured: x264 at CRF 16 spends 1.6 times the bytes of x264's defaults, x265 at
// CRF 15 3.3 times those of x265's).
constexpr double kRateHeadroom = 4.0;

double h264ProfileFactor(int profile)
{
    switch (profile) {
    case SNIPORA_PROFILE(H264_HIGH):
        return 1.25;
    case SNIPORA_PROFILE(H264_HIGH_10):
    case SNIPORA_PROFILE(H264_HIGH_10_INTRA):
        return 3.0;
    case SNIPORA_PROFILE(H264_HIGH_422):
    case SNIPORA_PROFILE(H264_HIGH_422_INTRA):
    case SNIPORA_PROFILE(H264_HIGH_444_PREDICTIVE):
    case SNIPORA_PROFILE(H264_HIGH_444_INTRA):
        return 4.0;
    default:
        return 1.0;
    }
}

const char *x264Profile(int profile)
{
    switch (profile) {
    case SNIPORA_PROFILE(H264_BASELINE):
    case SNIPORA_PROFILE(H264_CONSTRAINED_BASELINE):
        return "baseline";
    case SNIPORA_PROFILE(H264_MAIN):
        return "main";
    case SNIPORA_PROFILE(H264_HIGH):
        return "high";
    case SNIPORA_PROFILE(H264_HIGH_10):
        return "high10";
    case SNIPORA_PROFILE(H264_HIGH_422):
        return "high422";
    case SNIPORA_PROFILE(H264_HIGH_444_PREDICTIVE):
        return "high444";
    default:
        return nullptr;
    }
}

const char *encoderName(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_H264:
        return "libx264";
    case AV_CODEC_ID_HEVC:
        return "libx265";
    case AV_CODEC_ID_MPEG2VIDEO:
        return "mpeg2video";
    case AV_CODEC_ID_MPEG4:
        return "mpeg4";
    case AV_CODEC_ID_VP9:
        return "libvpx-vp9";
    case AV_CODEC_ID_AV1:
        return "libaom-av1";
    default:
        return nullptr;
    }
}

// SVT-AV1 for the new frames of an AV1 source whose sequence header declares the inter-intra or
// distance-weighted compounds (as SVT-AV1's own streams do): libaom in real time declares
// neither, and SVT-AV1 without delay declares the header of such a source. Only where this
// build has it and it takes the source's pictures (4:2:0, 8 or 10 bits).
bool usesSvtAv1(const AVCodecParameters *par, const QByteArray &sourceHeader)
{
    if (par->codec_id != AV_CODEC_ID_AV1 || !avcodec_find_encoder_by_name("libsvtav1"))
        return false;
    const QList<Av1Obus::Field> fields = Av1Obus::sequenceHeaderFields(sourceHeader);
    const bool compounds = Av1Obus::fieldValue(fields, "enable_interintra_compound")
        || Av1Obus::fieldValue(fields, "enable_jnt_comp");
    const AVPixelFormat format = AVPixelFormat(par->format);
    return compounds && (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV420P10LE);
}

// Full-range "J" formats are the plain ones with the range flag set.
AVPixelFormat plainFormat(AVPixelFormat f)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    default:
        return f;
    }
}

AVRational nominalRate(const AVStream *source)
{
    AVRational rate = source->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = source->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = AVRational { 25, 1 };
    return rate;
}

bool interlaced(const AVCodecParameters *par)
{
    return ExactCodecs::codedInterlaced(par);
}

// True when the new frames are coded interlaced (H.264 as MBAFF frames, MPEG-2 with field DCT
// and field motion).
bool codesFields(const AVCodecParameters *par)
{
    return interlaced(par)
        && (par->codec_id == AV_CODEC_ID_MPEG2VIDEO || par->codec_id == AV_CODEC_ID_H264);
}

// The field order the stream declares (1 top field first, 0 bottom first, -1 none: the new
// frames are then coded top field first, as x264 and broadcast SD and HD have it).
int topFieldFirst(const AVCodecParameters *par)
{
    switch (par->field_order) {
    case AV_FIELD_TT:
    case AV_FIELD_TB:
        return 1;
    case AV_FIELD_BB:
    case AV_FIELD_BT:
        return 0;
    default:
        return -1;
    }
}

// The picture as the source's: size, aspect, pixel format, colour description, field order
// (interlaced frames coded as such, each with the field order it was decoded with); frames
// numbered 0, 1, 2, ... at the nominal rate (their source times are kept aside), no B-frames,
// one key frame at the beginning (MPEG-2 allows no more than 600 frames between two).
void setUpContext(AVCodecContext *enc, const AVStream *source, AVRational rate, bool globalHeader)
{
    const AVCodecParameters *par = source->codecpar;
    enc->width = par->width;
    enc->height = par->height;
    enc->pix_fmt = plainFormat(AVPixelFormat(par->format));
    enc->sample_aspect_ratio
        = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : source->sample_aspect_ratio;
    enc->color_range = par->format != enc->pix_fmt ? AVCOL_RANGE_JPEG : par->color_range;
    enc->color_primaries = par->color_primaries;
    enc->color_trc = par->color_trc;
    enc->colorspace = par->color_space;
    enc->chroma_sample_location = par->chroma_location;
    enc->field_order = !codesFields(par) ? AV_FIELD_PROGRESSIVE
        : topFieldFirst(par) == 0        ? AV_FIELD_BB
                                         : AV_FIELD_TT;
    if (codesFields(par))
        enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    enc->time_base = av_inv_q(rate);
    enc->framerate = rate;
    enc->max_b_frames = 0;
    enc->gop_size = par->codec_id == AV_CODEC_ID_MPEG2VIDEO ? 600 : 1 << 20;
    enc->thread_count = 0;
    if (globalHeader)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

void setUpH264(const AVCodecParameters *par, const EdgeEncoder::Options &options, double needed,
               EncoderSetup &setup, bool *limited)
{
    setup.opts.set("preset", "fast");
    setup.opts.set("tune", "psnr");
    setup.opts.set("crf", "15");
    if (const char *profile = x264Profile(par->profile))
        setup.opts.set("profile", profile);
    setup.factor = h264ProfileFactor(par->profile);
    setup.limit = chooseLevel(CodecLevels::H264(), par->level, setup.factor, needed,
                              options.levelMayRise, limited);
    // No lookahead (an edge is short, and the lookahead's frames are most of the encoder's
    // memory), one reference frame without weighted copies of it (frames that follow the
    // source's SPS may use no more), and one encoding thread for large pictures: frame threads
    // hold frames of their own.
    setup.params << QStringLiteral("scenecut=0") << QStringLiteral("rc-lookahead=0")
                 << QStringLiteral("mbtree=0") << QStringLiteral("ref=1")
                 << QStringLiteral("weightp=0")
                 << QStringLiteral("sps-id=%1").arg(options.h264ParameterSetId);
    if (qint64(par->width) * par->height > 1280 * 720)
        setup.params << QStringLiteral("threads=1");
}

void setUpHevc(const AVCodecParameters *par, const EdgeEncoder::Options &options, double needed,
               EncoderSetup &setup, bool *limited)
{
    setup.opts.set("preset", "fast");
    setup.opts.set("tune", "psnr");
    setup.opts.set("crf", "15");
    if (par->profile == SNIPORA_PROFILE(HEVC_MAIN_10))
        setup.opts.set("profile", "main10");
    else if (par->profile == SNIPORA_PROFILE(HEVC_MAIN))
        setup.opts.set("profile", "main");
    setup.params << QStringLiteral("log-level=none") << QStringLiteral("scenecut=0")
                 << QStringLiteral("bframes=0") << QStringLiteral("info=0")
                 << QStringLiteral("rc-lookahead=0") << QStringLiteral("cutree=0");
    if (qint64(par->width) * par->height > 1280 * 720)
        setup.params << QStringLiteral("frame-threads=1");
    setup.limit
        = chooseLevel(CodecLevels::Hevc(), par->level, 1.0, needed, options.levelMayRise, limited);
}

void setUpMpeg2(AVCodecContext *enc, const AVCodecParameters *par, EncoderSetup &setup)
{
    if (codesFields(par))
        setup.opts.set("top", topFieldFirst(par) == 0 ? "0" : "1");
    // Interlaced grainy pictures need quantiser 1 to reach 40 dB (2 gives 39.9).
    const int quantiser = interlaced(par) ? 1 : 2;
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * quantiser;
    enc->qmin = std::min(enc->qmin, quantiser);
    if (par->profile >= 0)
        enc->profile = par->profile;
    if (par->level >= 0)
        enc->level = par->level;
    enc->rc_max_rate = par->bit_rate > 0 ? par->bit_rate * 2 : 0;
    enc->rc_buffer_size = enc->rc_max_rate > 0 ? 1835008 : 0; // the Main level buffer
}

// MPEG-4 part 2 as MPEG-2: quantiser 2, the source's profile and level; its headers (VOL) in
// the first frame, so that the copied frames, which bring the source's, can follow. Where the
// source has B-frames the new frames' VOL declares them too (every frame is still coded as a
// P-frame): a decoder that holds each reference frame back until the next one does so on both
// sides of a join, and shows no frame twice there.
void setUpMpeg4(AVCodecContext *enc, const AVCodecParameters *par, bool sourceHasBFrames)
{
    if (sourceHasBFrames)
        enc->max_b_frames = 1;
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * 2;
    if (par->profile >= 0)
        enc->profile = par->profile;
    if (par->level >= 0)
        enc->level = par->level;
}

// VP9 at constant quality 10 (no rate target, 42 dB and more against grainy pictures, about
// twice the source's bytes there), the source's profile; frames encoded one at a time, none
// held back for a hidden reference (no lag, no alternate reference frames), so each packet
// is one frame shown.
void setUpVp9(AVCodecContext *enc, const AVCodecParameters *par, EncoderSetup &setup)
{
    enc->bit_rate = 0;
    if (par->profile >= 0)
        enc->profile = par->profile;
    setup.opts.set("crf", "10");
    setup.opts.set("deadline", "realtime");
    setup.opts.set("cpu-used", "8");
    setup.opts.set("lag-in-frames", "0");
    setup.opts.set("auto-alt-ref", "0");
    setup.opts.set("row-mt", "1");
}

// libaom's names of the coding tools a sequence header declares, beside the header's own.
constexpr std::pair<const char *, const char *> kAv1Tools[] = {
    { "enable-filter-intra", "enable_filter_intra" },
    { "enable-intra-edge-filter", "enable_intra_edge_filter" },
    { "enable-interintra-comp", "enable_interintra_compound" },
    { "enable-masked-comp", "enable_masked_compound" },
    { "enable-warped-motion", "enable_warped_motion" },
    { "enable-dual-filter", "enable_dual_filter" },
    { "enable-order-hint", "enable_order_hint" },
    { "enable-dist-wtd-comp", "enable_jnt_comp" },
    { "enable-ref-frame-mvs", "enable_ref_frame_mvs" },
    { "enable-cdef", "enable_cdef" },
    { "enable-restoration", "enable_restoration" },
};

// The source's superblock size and coding tools, for a sequence header like the source's:
// then the new frames can carry the source's header itself. libaom in real time leaves some
// tools off whatever it is told (masked and inter-intra compounds among them); the copy then
// keeps the encoder's header and says where it differs.
QByteArray av1ToolParams(const QByteArray &header)
{
    const QList<Av1Obus::Field> fields = Av1Obus::sequenceHeaderFields(header);
    if (fields.isEmpty())
        return {};
    QByteArrayList params { QByteArray("sb-size=")
                            + (Av1Obus::fieldValue(fields, "use_128x128_superblock") ? "128"
                                                                                     : "64") };
    for (const auto &[option, field] : kAv1Tools)
        params << QByteArray(option) + '=' + QByteArray::number(Av1Obus::fieldValue(fields, field));
    return params.join(':');
}

// AV1 with libaom for real time at constant quality 12 (41 dB and more against grainy pictures,
// twice the source's bytes there and more), the source's profile (its bit depth and chroma
// format come with the pixel format) and coding tools; no frames held back (no lag, no
// alternate reference), so each packet is one frame shown. SVT-AV1's sources take SVT-AV1.
void setUpAv1(AVCodecContext *enc, const AVCodecParameters *par,
              const EdgeEncoder::Options &options, EncoderSetup &setup, bool svt)
{
    enc->bit_rate = 0;
    if (par->profile >= 0)
        enc->profile = par->profile;
    if (svt) {
        // Low delay: no frame held back or hidden, each packet one frame shown, in order;
        // quantiser 8 gives 44 dB and more against grainy pictures (12 gives 40 at worst).
        setup.opts.set("preset", "10");
        setup.opts.set("crf", "8");
        setup.opts.set("svtav1-params", "pred-struct=1");
        return;
    }
    setup.opts.set("usage", "realtime");
    setup.opts.set("cpu-used", "8");
    setup.opts.set("crf", "12");
    setup.opts.set("lag-in-frames", "0");
    setup.opts.set("auto-alt-ref", "0");
    setup.opts.set("row-mt", "1");
    const QByteArray tools = av1ToolParams(options.av1SequenceHeader);
    if (!tools.isEmpty())
        setup.opts.set("aom-params", tools.constData());
}

// The level's rate and buffer cap the encoder; the parameters go to x264 or x265.
void applyLimit(EncoderSetup &setup, AVCodecContext *enc, AVCodecID codec)
{
    if (setup.limit) {
        const qint64 rate = qint64(setup.limit->maxBitrateKbps * setup.factor) * 1000;
        const qint64 buffer = qint64(setup.limit->maxBufferKbits * setup.factor) * 1000;
        if (codec == AV_CODEC_ID_HEVC) {
            setup.params << QStringLiteral("vbv-maxrate=%1").arg(rate / 1000)
                         << QStringLiteral("vbv-bufsize=%1").arg(buffer / 1000);
        } else {
            enc->rc_max_rate = rate;
            enc->rc_buffer_size = int(std::min<qint64>(buffer, INT_MAX));
        }
    }
    if (!setup.params.isEmpty()) {
        const char *key = codec == AV_CODEC_ID_HEVC ? "x265-params" : "x264-params";
        setup.opts.set(key, setup.params.join(QLatin1Char(':')).toLatin1().constData());
    }
}

} // namespace

bool EdgeEncoder::canEncode(const AVCodecParameters *par, QString *reason)
{
    const char *name = encoderName(par->codec_id);
    const AVCodec *codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
    if (!codec) {
        *reason = name ? QStringLiteral("no %1 encoder in this build").arg(QLatin1String(name))
                       : QStringLiteral("%1 video")
                             .arg(QString::fromLatin1(avcodec_get_name(par->codec_id)).toUpper());
        return false;
    }
    // The encoders of H.264 and MPEG-2 code interlaced frames with their field order.
    if (interlaced(par) && par->codec_id != AV_CODEC_ID_H264
        && par->codec_id != AV_CODEC_ID_MPEG2VIDEO) {
        *reason = QStringLiteral("interlaced %1 video")
                      .arg(QString::fromLatin1(avcodec_get_name(par->codec_id)).toUpper());
        return false;
    }
    const AVPixelFormat format = plainFormat(AVPixelFormat(par->format));
    const AVPixelFormat *formats = codec->pix_fmts;
    for (; formats && *formats != AV_PIX_FMT_NONE; ++formats) {
        if (*formats == format)
            return true;
    }
    if (!formats) // the encoder does not list them
        return true;
    const char *formatName = av_get_pix_fmt_name(format);
    *reason = formatName ? QStringLiteral("pixel format %1").arg(QLatin1String(formatName))
                         : QStringLiteral("no picture of the video could be decoded");
    return false;
}

Outcome EdgeEncoder::openDecoder(const AVStream *source)
{
    const AVCodecParameters *par = source->codecpar;
    const AVCodec *decoder = avcodec_find_decoder(par->codec_id);
    m_decoder.reset(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), par) < 0)
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The video decoder cannot be set up.") };
    m_decoder->pkt_timebase = source->time_base;
    // An edge is decoded from a random access point (an IDR, or a recovery point that recovers
    // at once), from which every frame decodes whole; after a recovery point libavcodec would
    // still hold back the reference frames that follow it as not known to be sound, and the
    // frames of the range among them would be missing from the output.
    m_decoder->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    // Frame threads hold pictures of their own: large pictures are decoded on one thread.
    m_decoder->thread_count = qint64(par->width) * par->height > 1280 * 720 ? 1 : 0;
    if (avcodec_open2(m_decoder.get(), decoder, nullptr) < 0)
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The video decoder cannot be opened.") };
    return {};
}

void EdgeEncoder::setUpCodec(AVCodecContext *enc, const AVCodecParameters *par,
                             const Options &options, EncoderSetup &setup)
{
    const double needed = kRateHeadroom * options.sourceBitRate;
    m_level = par->level;
    m_topFieldFirst = codesFields(par) ? (topFieldFirst(par) == 0 ? 0 : 1) : -1;
    switch (par->codec_id) {
    case AV_CODEC_ID_H264:
        setUpH264(par, options, needed, setup, &m_levelLimited);
        // Interlaced frames declare a reorder depth (one B-frame allowed, every frame still
        // coded as a P-frame), so that a decoder holds the last new frame back until the copied
        // IDR comes and starts its output afresh there. Without it, libavcodec (which does not
        // restart between parameter sets that both allow field coding) would take the IDR and
        // the frames after it for pictures out of order, below the last new one, and drop them.
        if (codesFields(par)) {
            enc->max_b_frames = 1;
            m_onlyP = true;
        }
        if (setup.limit)
            m_level = setup.limit->code;
        if (m_level > 0)
            enc->level = m_level;
        break;
    case AV_CODEC_ID_HEVC:
        setUpHevc(par, options, needed, setup, &m_levelLimited);
        if (setup.limit)
            m_level = setup.limit->code;
        if (m_level > 0)
            setup.params << QStringLiteral("level-idc=%1").arg(m_level / 3); // tenths of a level
        break;
    case AV_CODEC_ID_MPEG2VIDEO:
        setUpMpeg2(enc, par, setup);
        break;
    case AV_CODEC_ID_MPEG4:
        setUpMpeg4(enc, par, par->video_delay > 0);
        m_onlyP = enc->max_b_frames > 0;
        break;
    case AV_CODEC_ID_VP9:
        setUpVp9(enc, par, setup);
        break;
    case AV_CODEC_ID_AV1:
        setUpAv1(enc, par, options, setup, m_svt);
        break;
    default:
        break;
    }
    applyLimit(setup, enc, par->codec_id);
}

Outcome EdgeEncoder::openEncoder(const AVStream *source, const Options &options)
{
    const AVCodecParameters *par = source->codecpar;
    const AVRational rate = nominalRate(source);
    m_defaultDuration = std::max<qint64>(1, av_rescale_q(1, av_inv_q(rate), m_timeBase));
    // SVT-AV1 where it suits the source, libaom where SVT-AV1 refuses the picture.
    for (const bool svt : { true, false }) {
        if (svt && !usesSvtAv1(par, options.av1SequenceHeader))
            continue;
        m_svt = svt;
        const AVCodec *codec
            = avcodec_find_encoder_by_name(svt ? "libsvtav1" : encoderName(par->codec_id));
        m_encoder.reset(avcodec_alloc_context3(codec));
        if (!m_encoder)
            return Error { ErrorCode::NotPossible,
                           QStringLiteral("The video encoder cannot be set up.") };
        AVCodecContext *enc = m_encoder.get();
        setUpContext(enc, source, rate, options.globalHeader);
        EncoderSetup setup;
        setUpCodec(enc, par, options, setup);
        if (avcodec_open2(enc, codec, setup.opts.address()) >= 0)
            return {};
    }
    m_encoder.reset();
    return Error { ErrorCode::NotPossible,
                   QStringLiteral("The video cannot be encoded anew to cut it to the frame "
                                  "(the encoder refuses its settings); a copy that starts on "
                                  "a key frame (Exact cut off, or --keyframe-copy) still "
                                  "works") };
}

Outcome EdgeEncoder::open(const AVStream *source, const Options &options)
{
    QString reason;
    if (!canEncode(source->codecpar, &reason))
        return Error { ErrorCode::NotPossible, reason };
    m_timeBase = source->time_base;
    m_frame = MakeFrame();
    if (Outcome decoder = openDecoder(source); !decoder)
        return decoder;
    return openEncoder(source, options);
}

QByteArray EdgeEncoder::extradata() const
{
    if (!m_encoder || !m_encoder->extradata)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(m_encoder->extradata),
                      m_encoder->extradata_size);
}

void EdgeEncoder::setRange(qint64 fromPts, qint64 toPts)
{
    m_from = fromPts;
    m_to = toPts;
}

Outcome EdgeEncoder::checkCancel() const
{
    if (!m_cancel || !m_cancel->load())
        return {};
    return Error { ErrorCode::Stopped, QStringLiteral("The copy was stopped.") };
}

Error EdgeEncoder::damaged(qint64 pts)
{
    m_damagedAt = pts;
    return Error { ErrorCode::SourceDamaged,
                   QStringLiteral("The video is damaged there: a frame to re-encode cannot be "
                                  "decoded.") };
}

Outcome EdgeEncoder::feed(const AVPacket *packet)
{
    if (Outcome going = checkCancel(); !going)
        return going;
    if (packet)
        m_lastPacketPts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    int r = avcodec_send_packet(m_decoder.get(), packet);
    if (r == AVERROR_INVALIDDATA)
        return damaged(m_lastPacketPts);
    if (r < 0 && r != AVERROR_EOF)
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The video could not be decoded: %1").arg(AvErrorText(r)) };
    for (;;) {
        r = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return {};
        if (r == AVERROR_INVALIDDATA)
            return damaged(m_lastPacketPts);
        if (r < 0)
            return Error {
                ErrorCode::SourceDamaged,
                QStringLiteral("The video could not be decoded: %1").arg(AvErrorText(r))
            };
        const qint64 pts = m_frame->best_effort_timestamp;
        const bool wanted = pts != AV_NOPTS_VALUE && pts >= m_from && pts < m_to;
        Outcome done;
        if (wanted
            && (m_frame->decode_error_flags || (m_frame->flags & AV_FRAME_FLAG_CORRUPT)
                || (m_lastPts != AV_NOPTS_VALUE && pts <= m_lastPts)))
            done = damaged(pts);
        else if (wanted)
            done = encodeFrame(m_frame.get());
        av_frame_unref(m_frame.get());
        if (!done)
            return done;
    }
}

Outcome EdgeEncoder::encodeFrame(AVFrame *frame)
{
    if (frame->width != m_encoder->width || frame->height != m_encoder->height)
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The picture size of the video changes inside the range, "
                                      "which a cut to the frame cannot encode anew; a copy that "
                                      "starts on a key frame (Exact cut off, or --keyframe-copy) "
                                      "still works") };
    m_sourcePts.push_back(frame->best_effort_timestamp);
    m_lastPts = frame->best_effort_timestamp;
    frame->format = m_encoder->pix_fmt;
    if (m_topFieldFirst >= 0) {
        frame->interlaced_frame = 1;
        frame->top_field_first = m_topFieldFirst;
    }
    frame->pts = qint64(m_sourcePts.size()) - 1;
    frame->pict_type = m_encoded == 0 ? AV_PICTURE_TYPE_I
        : m_onlyP                     ? AV_PICTURE_TYPE_P
                                      : AV_PICTURE_TYPE_NONE;
    frame->key_frame = m_encoded == 0;
    // Nothing rides along with the frame: libx265 would keep a copy of this value for each
    // frame until it comes out, and lose those of the frames still inside when the encoder is
    // closed before the end (a stopped copy).
    frame->reordered_opaque = 0;
    const int r = avcodec_send_frame(m_encoder.get(), frame);
    if (r < 0)
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("The video could not be encoded: %1").arg(AvErrorText(r)) };
    ++m_encoded;
    return receivePackets();
}

Outcome EdgeEncoder::receivePackets()
{
    for (;;) {
        if (Outcome going = checkCancel(); !going)
            return going;
        AvPacketPtr packet = MakePacket();
        const int r = avcodec_receive_packet(m_encoder.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return {};
        if (r < 0)
            return Error {
                ErrorCode::EncoderFailed,
                QStringLiteral("The video could not be encoded: %1").arg(AvErrorText(r))
            };
        const qint64 n = packet->pts;
        if (n < 0 || n >= qint64(m_sourcePts.size()))
            return Error { ErrorCode::EncoderFailed,
                           QStringLiteral("The video encoder returned a frame it was not given.") };
        packet->pts = m_sourcePts[size_t(n)];
        packet->dts = packet->pts;
        packet->duration = n + 1 < qint64(m_sourcePts.size())
            ? m_sourcePts[size_t(n + 1)] - m_sourcePts[size_t(n)]
            : m_defaultDuration;
        if (packet->duration <= 0)
            packet->duration = m_defaultDuration;
        packet->time_base = m_timeBase;
        m_packets.push_back(std::move(packet));
    }
}

Outcome EdgeEncoder::finish()
{
    if (Outcome fed = feed(nullptr); !fed)
        return fed;
    const int r = avcodec_send_frame(m_encoder.get(), nullptr);
    if (r < 0 && r != AVERROR_EOF)
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("The video could not be encoded: %1").arg(AvErrorText(r)) };
    return receivePackets();
}

std::vector<AvPacketPtr> EdgeEncoder::takePackets(bool keepLast)
{
    std::vector<AvPacketPtr> taken = std::exchange(m_packets, {});
    if (keepLast && !taken.empty()) {
        m_packets.push_back(std::move(taken.back()));
        taken.pop_back();
    }
    return taken;
}
