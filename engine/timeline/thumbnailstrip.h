#pragma once

#include "backgroundjob.h"
#include "timelinecache.h"
#include "timelinedata.h"

// Small pictures of a file's first video stream at evenly spaced times: picture i stands for the
// middle of the i-th of `count` equal parts of the range (the whole file by default) and shows
// the key frame at or before that time (or the first key frame, before it), decoded alone and
// scaled to the height with the stream's display aspect. Where two times fall on the same key
// frame, its picture is decoded once. A file without video finishes with no pictures.
//
// Signals (see BackgroundJob for the threading contract):
//   thumbnailReady(index, thumbnail)  each picture as it is decoded, in order of time
//   finished(set)                     all pictures, once; also what a cache entry held (then
//                                     without thumbnailReady before it)
//   failed(message)                   the file cannot be read (missing, empty, not media)
class ThumbnailStrip final : public BackgroundJob
{
    Q_OBJECT
public:
    static constexpr int kDefaultHeight = 54;
    // The pictures of one run take at most this much memory: fewer are made when more would
    // not fit.
    static constexpr qint64 kMaxImageBytes = qint64(48) << 20;

    explicit ThumbnailStrip(QObject *parent = nullptr);
    ~ThumbnailStrip() override;

    void setCache(const TimelineCache &cache) { m_cache = cache; }
    void setCount(int count) { m_count = count; }
    int count() const { return m_count; }
    void setHeight(int pixels) { m_height = pixels; }
    int height() const { return m_height; }
    // The range the pictures cover (microseconds); to < 0 means the end of the file.
    void setRange(qint64 fromMicros, qint64 toMicros);
    // Decoding threads; the default leaves a core to the user interface and the player.
    void setDecoderThreads(int threads) { m_threads = threads; }
    static int defaultDecoderThreads();

    void start(const QString &path);

Q_SIGNALS:
    void thumbnailReady(int index, const Thumbnail &thumbnail);
    void finished(const ThumbnailSet &set);

private:
    TimelineCache m_cache;
    int m_count = 100;
    int m_height = kDefaultHeight;
    qint64 m_from = 0;
    qint64 m_to = -1;
    int m_threads;
};
