#include "keyframeindex.h"

#include "mediainput.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <limits>

namespace {

const QString kCacheKind = QStringLiteral("keyframes/1");
constexpr qint64 kPartialEveryMs = 250;

void sortUnique(QList<qint64> *times)
{
    std::sort(times->begin(), times->end());
    times->erase(std::unique(times->begin(), times->end()), times->end());
}

// One run: reads the key frames of one file and reports them to the job.
class IndexBuilder
{
public:
    IndexBuilder(const JobContext &context, KeyFrameIndex *job, MediaInput &input, int video)
        : m_context(context)
        , m_job(job)
        , m_input(input)
        , m_video(video)
        , m_stream(input.context()->streams[video])
    {
        m_clock.start();
    }

    bool readKeySamples();
    bool readCues();
    bool readEveryPacket();

    KeyFrameList list;
    bool readError = false;

private:
    // The next packet of the video stream; false at the end, on a read error or a cancel.
    bool nextVideoPacket(AVPacket *packet);
    void reportPartial(QList<qint64> soFar, double fraction);
    // The decoding times of the key samples the container lists; empty when its list does not
    // reach the end of the stream.
    QList<qint64> listedKeySamples();
    // Reads the packet of the i-th key sample; false when it does not read as that sample.
    bool readSample(const QList<qint64> &listed, qsizetype i, AVPacket *packet);
    bool partialDue() const { return m_clock.elapsed() >= m_lastReport + kPartialEveryMs; }

    const JobContext &m_context;
    KeyFrameIndex *m_job;
    MediaInput &m_input;
    const int m_video;
    AVStream *m_stream;
    QElapsedTimer m_clock;
    qint64 m_lastReport = 0;
};

bool IndexBuilder::nextVideoPacket(AVPacket *packet)
{
    return m_input.nextPacket(m_video, packet, m_context, &readError);
}

void IndexBuilder::reportPartial(QList<qint64> soFar, double fraction)
{
    m_lastReport = m_clock.elapsed();
    KeyFrameList partial;
    partial.keyFrames = std::move(soFar);
    partial.durationMicros = list.durationMicros;
    partial.fromContainerIndex = list.fromContainerIndex;
    KeyFrameIndex *job = m_job;
    m_context.post([job, partial] { Q_EMIT job->keyFramesUpdated(partial); });
    m_context.postProgress(fraction);
}

// MP4 and MOV list every sample with its decoding time and whether it is a key frame; the
// presentation time needs the sample's composition offset, which only its packet carries, read
// right after a seek to the sample (reading on with the other samples skipped would give the
// offsets of the wrong samples). Until they are read, each key frame is estimated from the first
// one's offset, which holds exactly for streams whose key frames all wait the same number of
// frames. Fragmented files that list only their first fragments are read packet by packet.
QList<qint64> IndexBuilder::listedKeySamples()
{
    QList<qint64> listed; // stream time base
    const int entries = avformat_index_get_entries_count(m_stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(m_stream, i);
        if (entry->flags & AVINDEX_KEYFRAME)
            listed << entry->timestamp;
    }
    const qint64 duration = m_input.durationMicros();
    const qint64 lastSample = entries > 0
        ? m_input.toMicros(avformat_index_get_entry(m_stream, entries - 1)->timestamp, m_video)
        : 0;
    if (listed.isEmpty() || (duration > 0 && lastSample < duration - 10000000))
        return {};
    list.frameCount = entries;
    return listed;
}

// The demuxer seeks by presentation time: to the last key frame shown at or before the time, so
// the time just before the next key sample is decoded lands on this one.
bool IndexBuilder::readSample(const QList<qint64> &listed, qsizetype i, AVPacket *packet)
{
    AVFormatContext *ctx = m_input.context();
    av_packet_unref(packet);
    const qint64 target
        = i + 1 < listed.size() ? listed.at(i + 1) - 1 : std::numeric_limits<qint64>::max() / 4;
    if (m_context.isCancelled() || av_seek_frame(ctx, m_video, target, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    for (;;) {
        const int r = av_read_frame(ctx, packet);
        if (r < 0) {
            readError = r != AVERROR_EOF && !m_context.isCancelled();
            return false;
        }
        if (packet->stream_index == m_video)
            return packet->dts == listed.at(i) && (packet->flags & AV_PKT_FLAG_KEY)
                && packet->pts != AV_NOPTS_VALUE;
        av_packet_unref(packet);
    }
}

bool IndexBuilder::readKeySamples()
{
    const QList<qint64> listed = listedKeySamples();
    if (listed.isEmpty())
        return false;
    list.fromContainerIndex = true;
    m_input.readOnly(m_video);
    AvPacketPtr packet = MakePacket();
    qint64 offset = 0; // presentation minus decoding time of the first key frame
    QList<qint64> exact;
    qsizetype next = 0; // the first key sample not read yet
    if (packet && readSample(listed, 0, packet.get())) {
        offset = packet->pts - packet->dts;
        if (!(packet->flags & AV_PKT_FLAG_DISCARD))
            exact << m_input.toMicros(packet->pts, m_video);
        next = 1;
    }
    auto estimate = [&](qsizetype i) { return m_input.toMicros(listed.at(i) + offset, m_video); };
    auto soFar = [&] {
        QList<qint64> times = exact;
        for (qsizetype i = next; i < listed.size(); ++i)
            times << estimate(i);
        sortUnique(&times);
        return times;
    };
    reportPartial(soFar(), 0);
    for (; packet && next < listed.size(); ++next) {
        if (readSample(listed, next, packet.get())) {
            // Samples the edit list leaves out are not shown: no mark.
            if (!(packet->flags & AV_PKT_FLAG_DISCARD))
                exact << m_input.toMicros(packet->pts, m_video);
        } else if (!readError && !m_context.isCancelled()) {
            exact << estimate(next); // key frames closer together than the frames' delay
        }
        if (m_context.isCancelled())
            return false;
        if (readError)
            break;
        if (partialDue())
            reportPartial(soFar(), double(next) / listed.size());
    }
    sortUnique(&exact);
    list.keyFrames = exact;
    return true;
}

// Matroska lists its key frames in the Cues with their presentation times; libavformat reads
// them at the first seek. Trusted when there are Cues and they reach the end of the file (a file
// written live may have none, or stop early).
bool IndexBuilder::readCues()
{
    // Before the seek the index holds only the key frames met while the streams were probed;
    // Cues add to them.
    const int probed = avformat_index_get_entries_count(m_stream);
    const qint64 start = m_stream->start_time != AV_NOPTS_VALUE ? m_stream->start_time : 0;
    if (av_seek_frame(m_input.context(), m_video, start, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    const int entries = avformat_index_get_entries_count(m_stream);
    if (entries <= probed)
        return false;
    QList<qint64> times;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(m_stream, i);
        if (entry->flags & AVINDEX_KEYFRAME)
            times << m_input.toMicros(entry->timestamp, m_video);
    }
    sortUnique(&times);
    if (times.isEmpty())
        return false;
    qint64 widestGap = 0;
    for (qsizetype i = 1; i < times.size(); ++i)
        widestGap = std::max(widestGap, times.at(i) - times.at(i - 1));
    // A file written without seeking back has neither Cues nor a length.
    const qint64 duration = m_input.durationMicros();
    if (duration <= 0 || times.last() + std::max<qint64>(10000000, 2 * widestGap) < duration)
        return false;
    list.keyFrames = times;
    list.fromContainerIndex = true;
    return true;
}

// Containers without an index of their key frames: every packet of the video stream is read
// (its data only passes through the demuxer), which also gives every frame's time.
bool IndexBuilder::readEveryPacket()
{
    m_input.readOnly(m_video);
    QList<qint64> keys;
    QList<qint64> frames;
    AvPacketPtr packet = MakePacket();
    while (packet && nextVideoPacket(packet.get())) {
        const qint64 t = m_input.toMicros(PacketTime(packet.get()), m_video);
        frames << t;
        if (packet->flags & AV_PKT_FLAG_KEY) {
            keys << t;
            if (partialDue()) {
                QList<qint64> sorted = keys;
                sortUnique(&sorted);
                reportPartial(sorted, m_input.readFraction());
            }
        }
    }
    list.frameCount = frames.size();
    sortUnique(&keys);
    sortUnique(&frames);
    list.keyFrames = keys;
    list.frameTimes = frames;
    return true;
}

void buildIndex(const JobContext &context, KeyFrameIndex *job, const QString &path,
                const TimelineCache &cache)
{
    KeyFrameList cached;
    if (cached.fromBytes(cache.load(path, kCacheKind))) {
        cached.fromCache = true;
        context.finish([job, cached] { Q_EMIT job->finished(cached); });
        return;
    }
    MediaInput input;
    if (!input.openForRun(path, context))
        return;
    const int video = input.firstStream(AVMEDIA_TYPE_VIDEO);
    KeyFrameList list;
    list.durationMicros = input.durationMicros();
    bool readError = false;
    auto build = [&](MediaInput &from, auto read) {
        IndexBuilder builder(context, job, from, video);
        builder.list = list;
        const bool done = (builder.*read)();
        list = builder.list;
        readError = builder.readError;
        return done;
    };
    const QString format = input.formatName();
    if (video < 0) {
        // Nothing to index: an audio file.
    } else if (!format.startsWith(QLatin1String("mov,"))
               && !format.startsWith(QLatin1String("matroska"))) {
        build(input, &IndexBuilder::readEveryPacket);
    } else if (!build(input,
                      format.startsWith(QLatin1String("mov,")) ? &IndexBuilder::readKeySamples
                                                               : &IndexBuilder::readCues)
               && !context.isCancelled()) {
        // An index that does not serve: read from the start again.
        MediaInput again;
        if (!again.openForRun(path, context))
            return;
        build(again, &IndexBuilder::readEveryPacket);
    }
    if (context.isCancelled())
        return;
    if (readError && list.keyFrames.isEmpty()) {
        context.fail(
            QCoreApplication::translate("KeyFrameIndex", "Not a media file, or a damaged one: %1")
                .arg(path));
        return;
    }
    // A file that could not be read to its end may still be growing: it is not kept.
    if (!readError)
        cache.store(path, kCacheKind, list.toBytes());
    context.postProgress(1);
    context.finish([job, list] { Q_EMIT job->finished(list); });
}

} // namespace

KeyFrameIndex::KeyFrameIndex(QObject *parent)
    : BackgroundJob(parent)
{
}

KeyFrameIndex::~KeyFrameIndex() = default;

void KeyFrameIndex::start(const QString &path)
{
    startWork([this, path, cache = m_cache](const JobContext &context) {
        buildIndex(context, this, path, cache);
    });
}
