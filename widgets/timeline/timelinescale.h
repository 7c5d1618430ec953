#pragma once

#include <QList>
#include <QtGlobal>

// The visible part of a file's time axis on a timeline of a given width: which microseconds
// each pixel column shows. Zoom 1 shows the whole file; zoom z shows a z-th of it, scrolled so
// that the view never leaves the file. Pure: no widget, no media.
class TimelineScale
{
public:
    static constexpr double kMaxZoom = 1 << 12;

    TimelineScale() = default;
    TimelineScale(qint64 durationMicros, int widthPixels);

    qint64 duration() const { return m_duration; }
    int width() const { return m_width; }
    double zoom() const { return m_zoom; }
    qint64 viewStart() const { return m_viewStart; }
    // The length of the part shown, at least one microsecond.
    qint64 viewLength() const;
    qint64 viewEnd() const { return m_viewStart + viewLength(); }

    // The x coordinate (0 .. width) of a time; times outside the view give coordinates outside.
    double x(qint64 micros) const;
    // The time at an x coordinate, within the file.
    qint64 micros(double x) const;

    void setWidth(int widthPixels);
    // Zooms by `factor` (2: in, 0.5: out) keeping `anchorMicros` at the same x, within zoom 1
    // to kMaxZoom.
    void zoomBy(double factor, qint64 anchorMicros);
    // Moves the view by a number of pixels (positive: later), within the file.
    void scrollBy(double pixels);
    // Scrolls just enough that the time is in view, with a margin of a tenth of the view.
    void ensureVisible(qint64 micros);

private:
    void clampView();

    qint64 m_duration = 0;
    int m_width = 1;
    double m_zoom = 1;
    qint64 m_viewStart = 0;
};

// The first key frame after `micros`, or -1 when there is none. `keyFrames` ascending.
qint64 NextKeyFrame(const QList<qint64> &keyFrames, qint64 micros);
// The last key frame before `micros`, or -1 when there is none.
qint64 PreviousKeyFrame(const QList<qint64> &keyFrames, qint64 micros);
