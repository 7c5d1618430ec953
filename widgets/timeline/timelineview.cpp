#include "timelineview.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTickRow = 9;
constexpr int kThumbnailRow = 40;
constexpr int kWaveformRow = 34;

const QColor kBackground(0x26, 0x26, 0x26);
const QColor kTick(0xb8, 0xb8, 0xb8);
const QColor kWave(0x5a, 0xa9, 0xf0);
const QColor kBand(0xf0, 0xa0, 0x30, 70);
const QColor kSelectedBand(0xf0, 0xa0, 0x30, 130);
const QColor kStartMark(0x4c, 0xd0, 0x5c);
const QColor kEndMark(0xf0, 0x50, 0x50);
const QColor kPosition(0xff, 0xff, 0xff);

} // namespace

TimelineView::TimelineView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Timeline"));
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_scale.setWidth(width());
}

QSize TimelineView::sizeHint() const
{
    return { 400, kTickRow + kThumbnailRow + kWaveformRow };
}

QSize TimelineView::minimumSizeHint() const
{
    return { 50, kTickRow + kThumbnailRow + kWaveformRow };
}

void TimelineView::reset(qint64 durationMicros, bool hasVideo)
{
    m_scale = TimelineScale(durationMicros, width());
    m_hasVideo = hasVideo;
    m_keyFrames.clear();
    m_thumbnails.clear();
    m_peaks.clear();
    m_bucketsPerSecond = 0;
    m_segments.clear();
    m_selected = -1;
    m_startMark = m_endMark = -1;
    m_position = 0;
    m_dragging = false;
    emit zoomChanged(m_scale.zoom());
    update();
}

void TimelineView::setKeyFrames(const KeyFrameList &list)
{
    m_keyFrames = list.keyFrames;
    update();
}

void TimelineView::setThumbnail(int, const Thumbnail &thumbnail)
{
    const auto at = std::lower_bound(m_thumbnails.begin(), m_thumbnails.end(), thumbnail,
                                     [](const Thumbnail &a, const Thumbnail &b) {
                                         return a.requestedMicros < b.requestedMicros;
                                     });
    if (at != m_thumbnails.end() && at->requestedMicros == thumbnail.requestedMicros)
        *at = thumbnail;
    else
        m_thumbnails.insert(at, thumbnail);
    update();
}

void TimelineView::setThumbnails(const ThumbnailSet &set)
{
    m_thumbnails = set.thumbnails;
    update();
}

void TimelineView::addPeaks(int firstBucket, const QList<WaveformPeak> &peaks,
                            double bucketsPerSecond)
{
    if (firstBucket < 0)
        return;
    m_bucketsPerSecond = bucketsPerSecond;
    if (m_peaks.size() < firstBucket + peaks.size())
        m_peaks.resize(firstBucket + peaks.size());
    std::copy(peaks.begin(), peaks.end(), m_peaks.begin() + firstBucket);
    update();
}

void TimelineView::setWaveform(const WaveformData &data)
{
    m_peaks = data.peaks;
    m_bucketsPerSecond = data.bucketsPerSecond;
    update();
}

void TimelineView::setSegments(const QList<Segment> &segments, int selected)
{
    m_segments = segments;
    m_selected = selected;
    update();
}

void TimelineView::setMarks(qint64 startMicros, qint64 endMicros)
{
    m_startMark = startMicros;
    m_endMark = endMicros;
    update();
}

void TimelineView::setPosition(qint64 micros)
{
    if (micros == m_position)
        return;
    m_position = micros;
    if (!m_dragging && m_scale.zoom() > 1)
        m_scale.ensureVisible(micros);
    update();
}

void TimelineView::zoomIn()
{
    zoomBy(2);
}

void TimelineView::zoomOut()
{
    zoomBy(0.5);
}

void TimelineView::zoomBy(double factor)
{
    const double before = m_scale.zoom();
    m_scale.zoomBy(factor, m_position);
    if (m_scale.zoom() != before) {
        emit zoomChanged(m_scale.zoom());
        update();
    }
}

TimelineView::Rows TimelineView::rows() const
{
    Rows r;
    r.ticks = QRect(0, 0, width(), kTickRow);
    const int below = height() - kTickRow;
    if (m_hasVideo) {
        r.thumbnails
            = QRect(0, kTickRow, width(), below * kThumbnailRow / (kThumbnailRow + kWaveformRow));
        r.waveform
            = QRect(0, r.thumbnails.bottom() + 1, width(), height() - r.thumbnails.bottom() - 1);
    } else {
        r.waveform = QRect(0, kTickRow, width(), below);
    }
    return r;
}

void TimelineView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    if (m_scale.duration() <= 0)
        return;
    const Rows r = rows();
    paintThumbnails(p, r.thumbnails);
    paintWaveform(p, r.waveform);
    paintTicks(p, r.ticks);
    paintOverlays(p);
}

void TimelineView::paintTicks(QPainter &p, const QRect &row) const
{
    p.setPen(kTick);
    // Key frames closer than two pixels share one tick.
    int lastX = -2;
    const auto first
        = std::lower_bound(m_keyFrames.begin(), m_keyFrames.end(), m_scale.viewStart());
    for (auto it = first; it != m_keyFrames.end() && *it <= m_scale.viewEnd(); ++it) {
        const int x = int(std::floor(m_scale.x(*it)));
        if (x - lastX < 2)
            continue;
        p.drawLine(x, row.top() + 2, x, row.bottom());
        lastX = x;
    }
}

// Each slot of the strip, a thumbnail wide, shows the picture made for the time nearest to the
// slot's middle; slots stay empty until a picture for them arrives.
void TimelineView::paintThumbnails(QPainter &p, const QRect &row) const
{
    if (row.isEmpty() || m_thumbnails.isEmpty())
        return;
    const QImage &sample = m_thumbnails.first().image;
    if (sample.isNull() || sample.height() <= 0)
        return;
    const int slot = std::max(8, sample.width() * row.height() / sample.height());
    for (int x = 0; x < row.width(); x += slot) {
        const qint64 middle = m_scale.micros(x + slot / 2.0);
        auto it
            = std::lower_bound(m_thumbnails.begin(), m_thumbnails.end(), middle,
                               [](const Thumbnail &t, qint64 v) { return t.requestedMicros < v; });
        if (it == m_thumbnails.end()
            || (it != m_thumbnails.begin()
                && middle - (it - 1)->requestedMicros < it->requestedMicros - middle))
            --it;
        if (!it->image.isNull())
            p.drawImage(QRect(x, row.top(), slot - 1, row.height()), it->image);
    }
}

// One column a pixel: the lowest and highest sample of the buckets it covers.
void TimelineView::paintWaveform(QPainter &p, const QRect &row) const
{
    if (row.isEmpty() || m_peaks.isEmpty() || !(m_bucketsPerSecond > 0))
        return;
    p.setPen(kWave);
    const double middle = row.top() + row.height() / 2.0;
    const double half = row.height() / 2.0 - 1;
    const double perMicro = m_bucketsPerSecond / 1e6;
    for (int x = 0; x < row.width(); ++x) {
        const qint64 from = qint64(double(m_scale.micros(x)) * perMicro);
        const qint64 to = std::max(from + 1, qint64(double(m_scale.micros(x + 1)) * perMicro));
        if (from >= m_peaks.size())
            break;
        float low = 0, high = 0;
        for (qint64 b = from; b < std::min<qint64>(to, m_peaks.size()); ++b) {
            low = std::min(low, m_peaks.at(b).low);
            high = std::max(high, m_peaks.at(b).high);
        }
        p.drawLine(QPointF(x, middle - high * half), QPointF(x, middle - low * half));
    }
}

void TimelineView::paintOverlays(QPainter &p) const
{
    const int top = kTickRow;
    for (int i = 0; i < m_segments.size(); ++i) {
        const double x0 = m_scale.x(qint64(m_segments.at(i).start * 1e6));
        const double x1 = m_scale.x(qint64(m_segments.at(i).end * 1e6));
        p.fillRect(QRectF(x0, top, std::max(1.0, x1 - x0), height() - top),
                   i == m_selected ? kSelectedBand : kBand);
    }
    for (const auto &[mark, colour] :
         { std::pair { m_startMark, kStartMark }, std::pair { m_endMark, kEndMark } }) {
        if (mark < 0)
            continue;
        p.setPen(QPen(colour, 2));
        const double x = m_scale.x(mark);
        p.drawLine(QPointF(x, 0), QPointF(x, height()));
    }
    const double x = m_scale.x(m_position);
    p.setPen(QPen(kPosition, 1));
    p.drawLine(QPointF(x, 0), QPointF(x, height()));
    p.setBrush(kPosition);
    p.drawPolygon(QPolygonF({ QPointF(x - 4, 0), QPointF(x + 4, 0), QPointF(x, 6) }));
}

void TimelineView::resizeEvent(QResizeEvent *event)
{
    m_scale.setWidth(width());
    QWidget::resizeEvent(event);
}

void TimelineView::wheelEvent(QWheelEvent *event)
{
    const int steps = event->angleDelta().y() / 120;
    if (event->modifiers() & Qt::ControlModifier) {
        if (steps != 0)
            zoomBy(std::pow(2.0, steps));
    } else if (m_scale.zoom() > 1) {
        m_scale.scrollBy(-steps * width() / 8.0);
        update();
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void TimelineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_scale.duration() <= 0)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    emit positionRequested(m_scale.micros(event->position().x()), false);
}

void TimelineView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        emit positionRequested(m_scale.micros(event->position().x()), false);
}

void TimelineView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    emit positionRequested(m_scale.micros(event->position().x()), true);
}

void TimelineView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal)
        zoomIn();
    else if (event->key() == Qt::Key_Minus)
        zoomOut();
    else
        QWidget::keyPressEvent(event);
}
