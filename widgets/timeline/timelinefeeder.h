#pragma once

#include "keyframeindex.h"
#include "thumbnailstrip.h"
#include "timelinecache.h"
#include "waveform.h"

#include <QObject>
#include <QPointer>

class TimelineView;

// Builds the timeline of an opened file in the background and hands each result to the view as
// it arrives: the key-frame index first (ticks within a moment of opening), then the waveform
// and the thumbnails. Opening another file, or closing it, cancels what still runs; nothing of
// an earlier file reaches the view afterwards. Results are cached per file.
class TimelineFeeder : public QObject
{
    Q_OBJECT

public:
    explicit TimelineFeeder(TimelineView *view, QObject *parent = nullptr);

    void setCache(const TimelineCache &cache);
    // Starts the builders for a file (duration in microseconds, <= 0 when unknown).
    void open(const QString &path, qint64 durationMicros, bool hasVideo, bool hasAudio);
    // Cancels every builder and clears the view.
    void close();

    const KeyFrameList &keyFrames() const { return m_keyFrames; }
    bool isBuilding() const;

Q_SIGNALS:
    // The key-frame list changed (partial lists too): for key-frame steps.
    void keyFramesChanged();
    // Every builder has finished, failed or was not needed.
    void built();

private:
    void finishOne();

    QPointer<TimelineView> m_view;
    KeyFrameIndex m_index;
    ThumbnailStrip m_strip;
    Waveform m_wave;
    KeyFrameList m_keyFrames;
    int m_pending = 0;
};
