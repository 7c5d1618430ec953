#include "timelinefeeder.h"

#include "timelineview.h"

TimelineFeeder::TimelineFeeder(TimelineView *view, QObject *parent)
    : QObject(parent)
    , m_view(view)
{
    connect(&m_index, &KeyFrameIndex::keyFramesUpdated, this, [this](const KeyFrameList &list) {
        m_keyFrames = list;
        if (m_view)
            m_view->setKeyFrames(list);
        emit keyFramesChanged();
    });
    connect(&m_index, &KeyFrameIndex::finished, this, [this](const KeyFrameList &list) {
        m_keyFrames = list;
        if (m_view)
            m_view->setKeyFrames(list);
        emit keyFramesChanged();
        finishOne();
    });
    connect(&m_strip, &ThumbnailStrip::thumbnailReady, this,
            [this](int index, const Thumbnail &thumbnail) {
                if (m_view)
                    m_view->setThumbnail(index, thumbnail);
            });
    connect(&m_strip, &ThumbnailStrip::finished, this, [this](const ThumbnailSet &set) {
        if (m_view)
            m_view->setThumbnails(set);
        finishOne();
    });
    connect(&m_wave, &Waveform::peaksReady, this,
            [this](int first, const QList<WaveformPeak> &peaks) {
                if (m_view)
                    m_view->addPeaks(first, peaks, Waveform::kDefaultBucketsPerSecond);
            });
    connect(&m_wave, &Waveform::finished, this, [this](const WaveformData &data) {
        if (m_view)
            m_view->setWaveform(data);
        finishOne();
    });
    for (BackgroundJob *job :
         std::initializer_list<BackgroundJob *> { &m_index, &m_strip, &m_wave })
        connect(job, &BackgroundJob::failed, this, &TimelineFeeder::finishOne);
}

void TimelineFeeder::setCache(const TimelineCache &cache)
{
    m_index.setCache(cache);
    m_strip.setCache(cache);
    m_wave.setCache(cache);
}

void TimelineFeeder::open(const QString &path, qint64 durationMicros, bool hasVideo, bool hasAudio)
{
    close();
    if (m_view)
        m_view->reset(durationMicros, hasVideo);
    if (durationMicros <= 0)
        return;
    if (hasVideo) {
        m_pending += 2;
        m_index.start(path);
        m_strip.start(path);
    }
    if (hasAudio) {
        ++m_pending;
        m_wave.start(path);
    }
    if (m_pending == 0)
        emit built();
}

void TimelineFeeder::close()
{
    m_index.cancel();
    m_strip.cancel();
    m_wave.cancel();
    m_pending = 0;
    m_keyFrames = KeyFrameList();
    if (m_view)
        m_view->reset(0, false);
    emit keyFramesChanged();
}

bool TimelineFeeder::isBuilding() const
{
    return m_pending > 0;
}

void TimelineFeeder::finishOne()
{
    if (m_pending > 0 && --m_pending == 0)
        emit built();
}
