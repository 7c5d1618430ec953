#pragma once

#include "backgroundjob.h"
#include "timelinecache.h"
#include "timelinedata.h"

// Finds the key frames of a file's first video stream without decoding it. MP4/MOV: the key
// samples the container lists, each read for its presentation time (their data only; a first
// estimate from the sample table comes at once). Matroska: the Cues. Other containers
// (MPEG-TS, MPEG-PS, AVI, a Matroska file without Cues...) are read packet by packet, which
// also gives every frame's time; partial lists come as the reading goes. A file without video
// finishes with an empty list.
//
// Signals (see BackgroundJob for the threading contract):
//   keyFramesUpdated(soFar)  partial lists, each replacing the one before
//   finished(list)           the whole list, once; also the list a cache entry held
//   failed(message)          the file cannot be read (missing, empty, not media, damaged)
class KeyFrameIndex final : public BackgroundJob
{
    Q_OBJECT
public:
    explicit KeyFrameIndex(QObject *parent = nullptr);
    ~KeyFrameIndex() override;

    void setCache(const TimelineCache &cache) { m_cache = cache; }
    void start(const QString &path);

Q_SIGNALS:
    void keyFramesUpdated(const KeyFrameList &soFar);
    void finished(const KeyFrameList &list);

private:
    TimelineCache m_cache;
};
