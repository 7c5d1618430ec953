#pragma once

#include "segmentlist.h"
#include "timelinedata.h"
#include "timelinescale.h"

#include <QWidget>

// The timeline under the position slider: a row of key-frame ticks, a strip of thumbnails and
// the audio waveform of the opened file, with the segment bands, the marks and the play
// position drawn over them. What the background builders deliver is drawn as it arrives; a
// file without video shows its waveform over the whole height.
//
// Input: a click or a drag asks for a position (positionRequested, exact only on release);
// Ctrl+wheel and the +/- keys zoom around the play position, the wheel scrolls a zoomed view,
// and the view follows the play position when it leaves it.
class TimelineView : public QWidget
{
    Q_OBJECT

public:
    // The height the window gives it under the video: ticks, thumbnails and waveform.
    static constexpr int kPreferredHeight = 84;

    explicit TimelineView(QWidget *parent = nullptr);

    // Forgets everything drawn: a new file (duration <= 0: none) at zoom 1.
    void reset(qint64 durationMicros, bool hasVideo);
    void setKeyFrames(const KeyFrameList &list);
    void setThumbnail(int index, const Thumbnail &thumbnail);
    void setThumbnails(const ThumbnailSet &set);
    void addPeaks(int firstBucket, const QList<WaveformPeak> &peaks, double bucketsPerSecond);
    void setWaveform(const WaveformData &data);
    void setSegments(const QList<Segment> &segments, int selected);
    // Marks in microseconds; -1 for a mark not set.
    void setMarks(qint64 startMicros, qint64 endMicros);
    void setPosition(qint64 micros);

    void zoomIn();
    void zoomOut();

    const TimelineScale &scale() const { return m_scale; }
    const QList<qint64> &keyFrames() const { return m_keyFrames; }
    qint64 position() const { return m_position; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user points at a time: while dragging (exact false, a fast seek will do), and where
    // the button is released (exact true).
    void positionRequested(qint64 micros, bool exact);
    void zoomChanged(double zoom);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct Rows
    {
        QRect ticks, thumbnails, waveform;
    };
    Rows rows() const;
    void paintTicks(QPainter &p, const QRect &row) const;
    void paintThumbnails(QPainter &p, const QRect &row) const;
    void paintWaveform(QPainter &p, const QRect &row) const;
    void paintOverlays(QPainter &p) const;
    void zoomBy(double factor);

    TimelineScale m_scale;
    bool m_hasVideo = false;
    QList<qint64> m_keyFrames;
    QList<Thumbnail> m_thumbnails; // ascending requested times
    QList<WaveformPeak> m_peaks;
    double m_bucketsPerSecond = 0;
    QList<Segment> m_segments;
    int m_selected = -1;
    qint64 m_startMark = -1;
    qint64 m_endMark = -1;
    qint64 m_position = 0;
    bool m_dragging = false;
};
