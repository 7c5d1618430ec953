#pragma once

#include "backgroundjob.h"
#include "timelinecache.h"
#include "timelinedata.h"

// The audio of a file as peaks: one stream (the first audio stream unless another is chosen)
// decoded, its channels mixed to mono, and each bucket of time reduced to its lowest and highest
// sample. A fixed number of buckets per second, fewer for files so long that more would not fit
// the bucket bound. A file without audio finishes with no peaks (stream -1).
//
// Signals (see BackgroundJob for the threading contract):
//   peaksReady(firstBucket, peaks)  buckets done since the last report, in order of time
//   finished(data)                  all peaks, once; also what a cache entry held (then without
//                                   peaksReady before it)
//   failed(message)                 the file cannot be read (missing, empty, not media)
class Waveform final : public BackgroundJob
{
    Q_OBJECT
public:
    static constexpr int kDefaultBucketsPerSecond = 100;
    // 8 MiB of peaks; a 2 h file keeps the default rate.
    static constexpr int kDefaultMaxBuckets = 1 << 20;

    explicit Waveform(QObject *parent = nullptr);
    ~Waveform() override;

    void setCache(const TimelineCache &cache) { m_cache = cache; }
    // A stream index of the file, or -1 for its first audio stream.
    void setAudioStream(int streamIndex) { m_stream = streamIndex; }
    void setBucketsPerSecond(int buckets) { m_bucketsPerSecond = buckets; }
    void setMaxBuckets(int buckets) { m_maxBuckets = buckets; }

    void start(const QString &path);

Q_SIGNALS:
    void peaksReady(int firstBucket, const QList<WaveformPeak> &peaks);
    void finished(const WaveformData &data);

private:
    TimelineCache m_cache;
    int m_stream = -1;
    int m_bucketsPerSecond = kDefaultBucketsPerSecond;
    int m_maxBuckets = kDefaultMaxBuckets;
};
