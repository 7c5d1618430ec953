#include "waveform.h"

#include "mediainput.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr qint64 kPartialEveryMs = 250;
constexpr int kPartialSeconds = 60;

struct WaveSettings
{
    QString path;
    int stream = -1;
    int bucketsPerSecond = 0;
    int maxBuckets = 0;
    TimelineCache cache;

    // Under the stream asked for (-1: the first audio stream).
    QString cacheKind() const
    {
        return QStringLiteral("waveform/1 %1 %2 %3")
            .arg(stream)
            .arg(bucketsPerSecond)
            .arg(maxBuckets);
    }
};

// Sample i of channel c of a decoded frame, -1 to 1, for every sample format libav decodes to.
template<typename T> float sampleValue(T v)
{
    if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>)
        return float(v);
    else if constexpr (std::is_same_v<T, uint8_t>)
        return (float(v) - 128.0f) / 128.0f;
    else
        return float(double(v) / -double(std::numeric_limits<T>::min()));
}

// Adds the mean of the frame's channels, sample by sample, to `mono`.
template<typename T>
void mixInto(const AVFrame *frame, bool planar, int channels, std::vector<float> *mono)
{
    const int n = frame->nb_samples;
    mono->assign(size_t(n), 0.0f);
    const float scale = 1.0f / float(channels);
    for (int c = 0; c < channels; ++c) {
        const T *data = reinterpret_cast<const T *>(planar ? frame->extended_data[c]
                                                           : frame->extended_data[0]);
        const int step = planar ? 1 : channels;
        const int offset = planar ? 0 : c;
        for (int i = 0; i < n; ++i)
            (*mono)[size_t(i)] += sampleValue(data[i * step + offset]) * scale;
    }
}

bool mixFrame(const AVFrame *frame, int channels, std::vector<float> *mono)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        mixInto<uint8_t>(frame, planar, channels, mono);
        return true;
    case AV_SAMPLE_FMT_S16:
        mixInto<int16_t>(frame, planar, channels, mono);
        return true;
    case AV_SAMPLE_FMT_S32:
        mixInto<int32_t>(frame, planar, channels, mono);
        return true;
    case AV_SAMPLE_FMT_S64:
        mixInto<int64_t>(frame, planar, channels, mono);
        return true;
    case AV_SAMPLE_FMT_FLT:
        mixInto<float>(frame, planar, channels, mono);
        return true;
    case AV_SAMPLE_FMT_DBL:
        mixInto<double>(frame, planar, channels, mono);
        return true;
    default:
        return false;
    }
}

// Reduces decoded audio to peaks, frame by frame.
class PeakCollector
{
public:
    PeakCollector(double bucketsPerSecond, int maxBuckets)
        : m_rate(bucketsPerSecond)
        , m_maxBuckets(maxBuckets)
    {
    }

    // Adds a frame that starts at `startMicros` (none: right after the previous frame).
    void add(const AVFrame *frame, int channels, std::optional<qint64> startMicros)
    {
        if (frame->sample_rate <= 0 || channels <= 0 || !mixFrame(frame, channels, &m_mono))
            return;
        const double sampleRate = frame->sample_rate;
        // Sample positions on the file's time axis; samples before its start are not shown.
        qint64 first = m_next;
        if (startMicros)
            first = qint64(std::llround(double(*startMicros) * sampleRate / 1e6));
        const double bucketsPerSample = m_rate / sampleRate;
        const qint64 count = qint64(m_mono.size());
        // Bucket by bucket: the samples of one bucket are a run, reduced in one loop.
        for (qint64 i = std::max<qint64>(0, -first); i < count;) {
            const qint64 position = first + i;
            const qint64 bucket = qint64(double(position) * bucketsPerSample);
            if (bucket >= m_maxBuckets)
                break;
            // The first position of the next bucket (at least one sample further on).
            qint64 end = qint64(std::ceil(double(bucket + 1) / bucketsPerSample));
            while (qint64(double(end) * bucketsPerSample) <= bucket)
                ++end;
            const qint64 stop = std::min(count, std::max(end - first, i + 1));
            float low = m_mono[size_t(i)];
            float high = low;
            for (qint64 j = i + 1; j < stop; ++j) {
                low = std::min(low, m_mono[size_t(j)]);
                high = std::max(high, m_mono[size_t(j)]);
            }
            if (bucket >= peaks.size()) {
                if (bucket >= peaks.capacity())
                    peaks.reserve(std::max<qint64>(bucket + 1, 2 * peaks.capacity()));
                peaks.resize(bucket + 1, kUntouched);
            }
            WaveformPeak &p = peaks[bucket];
            p.low = std::min(p.low, std::clamp(low, -1.0f, 1.0f));
            p.high = std::max(p.high, std::clamp(high, -1.0f, 1.0f));
            i = stop;
        }
        m_next = first + qint64(m_mono.size());
        m_done = std::clamp<qint64>(qint64(double(m_next) * bucketsPerSample), 0, peaks.size());
    }

    // Buckets no later frame adds to (the stream's time goes forward).
    qint64 done() const { return m_done; }
    // Buckets no sample fell into (a gap) are silence.
    void fillGaps(qint64 from, qint64 to)
    {
        for (qint64 i = from; i < std::min<qint64>(to, peaks.size()); ++i) {
            if (peaks.at(i).low > peaks.at(i).high)
                peaks[i] = WaveformPeak {};
        }
    }

    QList<WaveformPeak> peaks;

private:
    const double m_rate;
    const int m_maxBuckets;
    static constexpr WaveformPeak kUntouched { 2.0f, -2.0f };
    std::vector<float> m_mono;
    qint64 m_next = 0;
    qint64 m_done = 0;
};

// What one run decodes the peaks from.
struct WaveSource
{
    const JobContext &context;
    Waveform *job;
    MediaInput &input;
    int audio;
    AVCodecContext *decoder;
    qint64 duration; // microseconds; 0 or less when unknown
};

// Takes the decoder's frames into the peaks; true when the decoder wants more input (EAGAIN),
// false when it is drained or failed.
bool receivePeaks(const WaveSource &w, AVFrame *frame, PeakCollector &peaks)
{
    int r;
    while ((r = avcodec_receive_frame(w.decoder, frame)) >= 0) {
        const qint64 ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
        peaks.add(frame, frame->ch_layout.nb_channels,
                  ts != AV_NOPTS_VALUE ? std::optional(w.input.toMicros(ts, w.audio))
                                       : std::nullopt);
        av_frame_unref(frame);
    }
    return r == AVERROR(EAGAIN);
}

// Decodes the stream into peaks, handing them on in parts as they grow; false when the run
// was cancelled or failed.
bool decodePeaks(const WaveSource &w, PeakCollector &peaks, const WaveformData &data,
                 bool *readError)
{
    const JobContext &context = w.context;
    Waveform *job = w.job;
    QElapsedTimer clock;
    clock.start();
    qint64 reported = 0; // buckets handed on so far
    auto report = [&](qint64 upTo) {
        peaks.fillGaps(reported, upTo);
        if (upTo <= reported)
            return;
        const QList<WaveformPeak> chunk = peaks.peaks.mid(reported, upTo - reported);
        const int first = int(reported);
        context.post([job, first, chunk] { Q_EMIT job->peaksReady(first, chunk); });
        context.postProgress(w.duration > 0 ? upTo / (w.duration / 1e6 * data.bucketsPerSecond)
                                            : w.input.readFraction());
        reported = upTo;
    };
    AvPacketPtr packet = MakePacket();
    AvFramePtr frame = MakeFrame();
    if (!packet || !frame) {
        context.fail(QCoreApplication::translate(
            "Waveform", "Not enough memory to read this file's timeline."));
        return false;
    }
    bool draining = false;
    while (!context.isCancelled()) {
        if (!draining) {
            if (w.input.nextPacket(w.audio, packet.get(), context, readError)) {
                // A damaged packet is skipped: the decoder goes on with the next one.
                avcodec_send_packet(w.decoder, packet.get());
            } else {
                draining = true;
                avcodec_send_packet(w.decoder, nullptr);
            }
        }
        if (!receivePeaks(w, frame.get(), peaks) && draining)
            break;
        // Now and then, and at least for every minute of sound, so that the picture grows
        // evenly however fast the decoder runs.
        if (peaks.done() > reported
            && (clock.elapsed() >= kPartialEveryMs
                || peaks.done() - reported >= kPartialSeconds * data.bucketsPerSecond)) {
            report(peaks.done());
            clock.restart();
        }
    }
    if (context.isCancelled())
        return false;
    peaks.fillGaps(0, peaks.peaks.size());
    report(peaks.peaks.size());
    return true;
}

void buildWaveform(const JobContext &context, Waveform *job, const WaveSettings &s)
{
    WaveformData data;
    if (data.fromBytes(s.cache.load(s.path, s.cacheKind()))) {
        data.fromCache = true;
        context.finish([job, data] { Q_EMIT job->finished(data); });
        return;
    }
    MediaInput input;
    if (!input.openForRun(s.path, context))
        return;
    const int audio = input.streamOrFirst(s.stream, AVMEDIA_TYPE_AUDIO);
    AvCodecPtr decoder;
    if (audio >= 0)
        decoder = input.openDecoder(audio, 1);
    if (!decoder) {
        // No peaks to make: a file without audio, or an audio codec this build cannot decode.
        data.bucketsPerSecond = s.bucketsPerSecond;
        context.finish([job, data] { Q_EMIT job->finished(data); });
        return;
    }
    const qint64 duration = input.durationMicros();
    data.streamIndex = audio;
    data.sampleRate = decoder->sample_rate;
    data.channels = decoder->ch_layout.nb_channels;
    data.bucketsPerSecond = duration > 0
        ? std::min<double>(s.bucketsPerSecond, s.maxBuckets / (duration / 1e6))
        : s.bucketsPerSecond;
    PeakCollector peaks(data.bucketsPerSecond, s.maxBuckets);
    if (duration > 0)
        peaks.peaks.reserve(
            std::min<qint64>(s.maxBuckets, qint64(duration / 1e6 * data.bucketsPerSecond) + 2));
    input.readOnly(audio);
    bool readError = false;
    if (!decodePeaks({ context, job, input, audio, decoder.get(), duration }, peaks, data,
                     &readError))
        return;
    data.peaks = peaks.peaks;
    if (!readError)
        s.cache.store(s.path, s.cacheKind(), data.toBytes());
    context.finish([job, data] { Q_EMIT job->finished(data); });
}

} // namespace

Waveform::Waveform(QObject *parent)
    : BackgroundJob(parent)
{
}

Waveform::~Waveform() = default;

void Waveform::start(const QString &path)
{
    WaveSettings s;
    s.path = path;
    s.stream = m_stream;
    s.bucketsPerSecond = std::max(1, m_bucketsPerSecond);
    s.maxBuckets = std::max(1, m_maxBuckets);
    s.cache = m_cache;
    startWork([this, s](const JobContext &context) { buildWaveform(context, this, s); });
}
