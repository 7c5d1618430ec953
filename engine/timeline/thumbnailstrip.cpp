#include "thumbnailstrip.h"

#include "mediainput.h"

#include <QThread>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace {

constexpr int kMaxHeight = 720;

struct ScalerDeleter
{
    void operator()(SwsContext *ctx) const { sws_freeContext(ctx); }
};
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

struct StripSettings
{
    QString path;
    int count = 0;
    int height = 0;
    qint64 from = 0;
    qint64 to = -1;
    int threads = 1;
    TimelineCache cache;

    QString cacheKind() const
    {
        return QStringLiteral("thumbnails/1 %1 %2 %3 %4").arg(count).arg(height).arg(from).arg(to);
    }
};

// One run: finds and decodes the key frame for each time.
class StripBuilder
{
public:
    StripBuilder(const JobContext &context, MediaInput &input, int video, int height)
        : m_context(context)
        , m_input(input)
        , m_video(video)
        , m_height(height)
        , m_packet(MakePacket())
        , m_key(MakePacket())
        , m_frame(MakeFrame())
    {
        // These demuxers seek by their index of key frames: the first key frame read after a
        // seek back is the one at or before the time. Others (MPEG-TS, PS...) seek by estimate.
        const QString format = input.formatName();
        m_exactSeek = format.startsWith(QLatin1String("mov,"))
            || format.startsWith(QLatin1String("matroska"));
    }

    bool openDecoder(int threads)
    {
        m_decoder = m_input.openDecoder(m_video, threads);
        return m_decoder && m_packet && m_key && m_frame;
    }
    // Sets m_key to the key frame at or before the time (the first one when the time is before
    // it); false when none can be read.
    bool findKey(qint64 micros);
    qint64 keyMicros() const { return m_input.toMicros(PacketTime(m_key.get()), m_video); }
    // The key frame decoded on its own and scaled; a null image when it does not decode.
    QImage decodeKey();

    bool readError = false;

private:
    bool seekTo(qint64 ts);
    QImage scaled(const AVFrame *frame);

    const JobContext &m_context;
    MediaInput &m_input;
    const int m_video;
    const int m_height;
    bool m_exactSeek = false;
    AvCodecPtr m_decoder;
    AvPacketPtr m_packet;
    AvPacketPtr m_key;
    AvFramePtr m_frame;
    ScalerPtr m_scaler;
};

bool StripBuilder::seekTo(qint64 ts)
{
    AVFormatContext *ctx = m_input.context();
    // Containers that seek by estimate may land after their first key frame when asked for
    // their start: they are read from their first byte.
    if (!m_exactSeek && ts <= m_input.toStreamTime(0, m_video)
        && av_seek_frame(ctx, -1, 0, AVSEEK_FLAG_BYTE) >= 0)
        return true;
    return av_seek_frame(ctx, m_video, ts, AVSEEK_FLAG_BACKWARD) >= 0
        || av_seek_frame(ctx, m_video, ts, 0) >= 0;
}

bool StripBuilder::findKey(qint64 micros)
{
    static constexpr qint64 kMargins[] = { 0, 1000000, 5000000, 20000000, 60000000, 240000000 };
    auto streamTime
        = [&](qint64 us) { return m_input.toStreamTime(std::max<qint64>(0, us), m_video); };
    const qint64 zero = streamTime(0);
    qint64 seekTs = streamTime(micros);
    bool after = false; // m_key holds the first key frame after the time
    for (const qint64 margin : kMargins) {
        if (margin > 0) {
            // Landed after the time. Seeks by estimate go further back; an index seek (which
            // lands there only when no key frame comes before the time, or when the demuxer
            // compares decoding times) goes to the key frame decoded before the one found.
            if (m_exactSeek && after && m_key->dts != AV_NOPTS_VALUE)
                seekTs = std::min<qint64>(seekTs, m_key->dts) - 1;
            else
                seekTs = streamTime(micros - margin);
        }
        if (!seekTo(seekTs))
            return false;
        bool before = false; // m_key holds a key frame at or before the time
        after = false;
        while (m_input.nextPacket(m_video, m_packet.get(), m_context, &readError)) {
            const qint64 t = m_input.toMicros(PacketTime(m_packet.get()), m_video);
            if (m_packet->flags & AV_PKT_FLAG_KEY) {
                if (t <= micros || !before) {
                    av_packet_unref(m_key.get());
                    av_packet_ref(m_key.get(), m_packet.get());
                }
                if (t <= micros) {
                    before = true;
                    if (m_exactSeek)
                        break;
                    continue;
                }
                after = !before;
                break;
            }
            // Frames are decoded no later than shown: once one is decoded after the time, no key
            // frame shown at or before it follows.
            const qint64 decoded
                = m_packet->dts != AV_NOPTS_VALUE ? m_input.toMicros(m_packet->dts, m_video) : t;
            if (before && decoded > micros)
                break;
        }
        if (m_context.isCancelled())
            return false;
        if (before)
            return true;
        // At the start already: the time comes before the first key frame, or nothing reads.
        if (seekTs <= zero)
            return after;
    }
    return after;
}

QImage StripBuilder::decodeKey()
{
    // A key frame decodes without the frames before it: sent alone, then the decoder drained.
    avcodec_flush_buffers(m_decoder.get());
    QImage image;
    if (avcodec_send_packet(m_decoder.get(), m_key.get()) >= 0) {
        avcodec_send_packet(m_decoder.get(), nullptr);
        while (avcodec_receive_frame(m_decoder.get(), m_frame.get()) >= 0) {
            if (image.isNull())
                image = scaled(m_frame.get());
            av_frame_unref(m_frame.get());
        }
    }
    avcodec_flush_buffers(m_decoder.get());
    return image;
}

QImage StripBuilder::scaled(const AVFrame *frame)
{
    if (frame->width <= 0 || frame->height <= 0)
        return {};
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = m_input.context()->streams[m_video]->sample_aspect_ratio;
    const double aspect
        = (sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0) * frame->width / frame->height;
    const int width = std::clamp(int(std::lround(m_height * aspect)), 1, 4 * m_height);
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), frame->width, frame->height,
                                        AVPixelFormat(frame->format), width, m_height,
                                        AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler)
        return {};
    // Colours as the player shows them: HD pictures use BT.709; full range where the frame
    // says so.
    const int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    sws_setColorspaceDetails(m_scaler.get(), sws_getCoefficients(matrix),
                             frame->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage image(width, m_height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    uint8_t *planes[4] = { image.bits(), nullptr, nullptr, nullptr };
    const int strides[4] = { int(image.bytesPerLine()), 0, 0, 0 };
    if (sws_scale(m_scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides)
        != m_height)
        return {};
    return image;
}

// How many pictures, over which times (microseconds).
struct StripSpan
{
    int count = 0;
    qint64 from = 0;
    qint64 to = 0;
};

StripSpan stripSpan(MediaInput &input, int video, const StripSettings &s)
{
    const AVCodecParameters *par = input.context()->streams[video]->codecpar;
    // As many pictures as fit in the memory bound, at the aspect the stream declares.
    const double aspect = par->width > 0 && par->height > 0 ? double(par->width) / par->height
            * (par->sample_aspect_ratio.num > 0 ? av_q2d(par->sample_aspect_ratio) : 1.0)
                                                            : 16.0 / 9.0;
    const qint64 imageBytes
        = qint64(std::clamp(std::lround(s.height * aspect), 1L, long(4 * s.height))) * s.height * 4;
    StripSpan span;
    span.count = int(std::min<qint64>(s.count, ThumbnailStrip::kMaxImageBytes / imageBytes));
    const qint64 duration = s.to < 0 ? input.lengthMicros(video) : input.durationMicros();
    span.from = std::max<qint64>(0, s.from);
    span.to = s.to < 0 ? duration : (duration > 0 ? std::min(s.to, duration) : s.to);
    if (span.to < span.from)
        span.to = span.from;
    return span;
}

// The pictures at the middles of equal parts of the span, each posted as it is made; false
// when the run was cancelled. *incomplete: a picture could not be made.
bool makeThumbnails(const JobContext &context, ThumbnailStrip *job, StripBuilder &builder,
                    const StripSpan &span, ThumbnailSet *set, bool *incomplete)
{
    qint64 lastKey = AV_NOPTS_VALUE;
    QImage lastImage;
    const int count = span.count;
    for (int i = 0; i < count; ++i) {
        if (context.isCancelled())
            return false;
        Thumbnail t;
        t.requestedMicros
            = span.from + (span.to - span.from) * (2 * qint64(i) + 1) / (2 * qint64(count));
        if (!builder.findKey(t.requestedMicros)) {
            *incomplete = true;
            continue;
        }
        t.frameMicros = builder.keyMicros();
        if (t.frameMicros != lastKey || lastImage.isNull()) {
            lastImage = builder.decodeKey();
            lastKey = t.frameMicros;
        }
        if (lastImage.isNull()) {
            *incomplete = true;
            continue;
        }
        t.image = lastImage;
        set->thumbnails << t;
        context.post([job, i, t] { Q_EMIT job->thumbnailReady(i, t); });
        context.postProgress(double(i + 1) / count);
    }
    return !context.isCancelled();
}

void buildStrip(const JobContext &context, ThumbnailStrip *job, const StripSettings &s)
{
    ThumbnailSet set;
    set.height = s.height;
    if (set.fromBytes(s.cache.load(s.path, s.cacheKind()))) {
        set.fromCache = true;
        context.finish([job, set] { Q_EMIT job->finished(set); });
        return;
    }
    MediaInput input;
    if (!input.openForRun(s.path, context))
        return;
    const int video = input.firstStream(AVMEDIA_TYPE_VIDEO);
    StripBuilder builder(context, input, video, s.height);
    if (video < 0 || s.count <= 0 || !builder.openDecoder(s.threads)) {
        // No pictures to make: an audio file, or a video codec this build cannot decode.
        context.finish([job, set] { Q_EMIT job->finished(set); });
        return;
    }
    input.readOnly(video);
    const StripSpan span = stripSpan(input, video, s);
    bool incomplete = false;
    if (!makeThumbnails(context, job, builder, span, &set, &incomplete))
        return;
    // A picture missing for a damaged or unreadable part: the file may still be growing.
    if (!incomplete && !builder.readError)
        s.cache.store(s.path, s.cacheKind(), set.toBytes());
    context.finish([job, set] { Q_EMIT job->finished(set); });
}

} // namespace

ThumbnailStrip::ThumbnailStrip(QObject *parent)
    : BackgroundJob(parent)
    , m_threads(defaultDecoderThreads())
{
}

ThumbnailStrip::~ThumbnailStrip() = default;

void ThumbnailStrip::setRange(qint64 fromMicros, qint64 toMicros)
{
    m_from = fromMicros;
    m_to = toMicros;
}

int ThumbnailStrip::defaultDecoderThreads()
{
    return std::clamp(QThread::idealThreadCount() / 2, 1, 4);
}

void ThumbnailStrip::start(const QString &path)
{
    StripSettings s;
    s.path = path;
    s.count = std::max(0, m_count);
    s.height = std::clamp(m_height, 1, kMaxHeight);
    s.from = m_from;
    s.to = m_to;
    s.threads = std::max(1, m_threads);
    s.cache = m_cache;
    startWork([this, s](const JobContext &context) { buildStrip(context, this, s); });
}
