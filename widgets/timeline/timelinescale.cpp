#include "timelinescale.h"

#include <algorithm>
#include <cmath>

TimelineScale::TimelineScale(qint64 durationMicros, int widthPixels)
    : m_duration(std::max<qint64>(0, durationMicros))
    , m_width(std::max(1, widthPixels))
{
}

qint64 TimelineScale::viewLength() const
{
    return std::max<qint64>(1, qint64(std::llround(double(m_duration) / m_zoom)));
}

double TimelineScale::x(qint64 micros) const
{
    return double(micros - m_viewStart) * m_width / double(viewLength());
}

qint64 TimelineScale::micros(double x) const
{
    const qint64 t = m_viewStart + qint64(std::llround(x * double(viewLength()) / m_width));
    return std::clamp<qint64>(t, 0, m_duration);
}

void TimelineScale::setWidth(int widthPixels)
{
    m_width = std::max(1, widthPixels);
}

void TimelineScale::zoomBy(double factor, qint64 anchorMicros)
{
    if (!(factor > 0) || m_duration <= 0)
        return;
    const double anchorX = x(anchorMicros);
    m_zoom = std::clamp(m_zoom * factor, 1.0, kMaxZoom);
    m_viewStart = anchorMicros - qint64(std::llround(anchorX * double(viewLength()) / m_width));
    clampView();
}

void TimelineScale::scrollBy(double pixels)
{
    m_viewStart += qint64(std::llround(pixels * double(viewLength()) / m_width));
    clampView();
}

void TimelineScale::ensureVisible(qint64 micros)
{
    const qint64 margin = viewLength() / 10;
    if (micros < m_viewStart + margin)
        m_viewStart = micros - margin;
    else if (micros > viewEnd() - margin)
        m_viewStart = micros + margin - viewLength();
    else
        return;
    clampView();
}

void TimelineScale::clampView()
{
    m_viewStart
        = std::clamp<qint64>(m_viewStart, 0, std::max<qint64>(0, m_duration - viewLength()));
}

qint64 NextKeyFrame(const QList<qint64> &keyFrames, qint64 micros)
{
    const auto it = std::upper_bound(keyFrames.begin(), keyFrames.end(), micros);
    return it == keyFrames.end() ? -1 : *it;
}

qint64 PreviousKeyFrame(const QList<qint64> &keyFrames, qint64 micros)
{
    const auto it = std::lower_bound(keyFrames.begin(), keyFrames.end(), micros);
    return it == keyFrames.begin() ? -1 : *(it - 1);
}
