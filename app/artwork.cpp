#include "artwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

// The icons live in a static library: their resources are registered explicitly.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace Artwork {

namespace {

const QColor kAccent(0x2a, 0x7a, 0xd6);
const QColor kInk(0x33, 0x33, 0x33);

QPixmap canvas(int w, int h)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(int(w * ratio), int(h * ratio));
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    return pm;
}

// A pair of scissors: two blades crossing over two handle rings.
void drawScissors(QPainter &p, const QRectF &r, const QColor &color)
{
    const qreal s = r.width();
    p.save();
    p.translate(r.topLeft());
    QPen pen(color, s * 0.08, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(s * 0.25, s * 0.75), s * 0.14, s * 0.14);
    p.drawEllipse(QPointF(s * 0.75, s * 0.75), s * 0.14, s * 0.14);
    p.drawLine(QPointF(s * 0.34, s * 0.64), QPointF(s * 0.80, s * 0.08));
    p.drawLine(QPointF(s * 0.66, s * 0.64), QPointF(s * 0.20, s * 0.08));
    p.restore();
}

QPixmap speaker(bool muted)
{
    QPixmap pm = canvas(20, 15);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    QPainterPath body;
    body.moveTo(1, 5);
    body.lineTo(5, 5);
    body.lineTo(10, 1);
    body.lineTo(10, 14);
    body.lineTo(5, 10);
    body.lineTo(1, 10);
    body.closeSubpath();
    p.drawPath(body);
    if (muted) {
        p.setPen(QPen(QColor(0xc0, 0x30, 0x30), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12.5, 4.5), QPointF(18.5, 10.5));
        p.drawLine(QPointF(18.5, 4.5), QPointF(12.5, 10.5));
    } else {
        p.setPen(QPen(kInk, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(8, 4, 6, 7), -50 * 16, 100 * 16);
        p.drawArc(QRectF(7, 1.5, 11, 12), -50 * 16, 100 * 16);
    }
    return pm;
}

// A bracket with a marker line: the opening bracket for a start, the closing one for an end.
QIcon bracketIcon(bool start)
{
    QPixmap pm = canvas(20, 20);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 2.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    const qreal x = start ? 5 : 15;
    const qreal arm = start ? 5 : -5;
    QPainterPath bracket;
    bracket.moveTo(x + arm, 3);
    bracket.lineTo(x, 3);
    bracket.lineTo(x, 17);
    bracket.lineTo(x + arm, 17);
    p.drawPath(bracket);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    QPainterPath arrow; // points into the range
    const qreal ax = start ? 15 : 5;
    arrow.moveTo(ax, 10);
    arrow.lineTo(ax + (start ? -5 : 5), 6);
    arrow.lineTo(ax + (start ? -5 : 5), 14);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return QIcon(pm);
}

} // namespace

QIcon appIcon()
{
    static const bool registered = [] {
        initIconResources();
        return true;
    }();
    Q_UNUSED(registered);
    QIcon icon;
    for (int size : { 16, 24, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/snipora-%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap guidePicture()
{
    const int w = 340;
    const int h = 150;
    QPixmap pm = canvas(w, h);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 90), 2, Qt::DashLine));
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawRoundedRect(QRectF(1, 1, w - 2, h - 2), 14, 14);
    drawScissors(p, QRectF(20, 35, 70, 70), QColor(255, 255, 255, 200));
    p.setPen(QColor(235, 235, 235));
    QFont title = p.font();
    title.setPointSizeF(12);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRectF(105, 28, w - 115, 28), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Open a file to begin"));
    QFont body = p.font();
    body.setPointSizeF(9);
    body.setBold(false);
    p.setFont(body);
    p.setPen(QColor(200, 200, 200));
    p.drawText(QRectF(105, 58, w - 115, 80), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("Click the folder button, press Ctrl+O or drop a file here. "
                              "Play, mark the start and the end, then press Cut."));
    return pm;
}

QPixmap soundOnPicture()
{
    return speaker(false);
}

QPixmap mutedPicture()
{
    return speaker(true);
}

QIcon openIcon()
{
    QPixmap pm = canvas(22, 22);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xb0, 0x84, 0x20), 1.2));
    p.setBrush(QColor(0xf2, 0xc2, 0x4a));
    QPainterPath folder;
    folder.moveTo(2, 5);
    folder.lineTo(8, 5);
    folder.lineTo(10, 7);
    folder.lineTo(19, 7);
    folder.lineTo(19, 18);
    folder.lineTo(2, 18);
    folder.closeSubpath();
    p.drawPath(folder);
    p.setBrush(QColor(0xfa, 0xd8, 0x7a));
    QPainterPath front;
    front.moveTo(4, 10);
    front.lineTo(21, 10);
    front.lineTo(19, 18);
    front.lineTo(2, 18);
    front.closeSubpath();
    p.drawPath(front);
    return QIcon(pm);
}

QIcon setStartIcon()
{
    return bracketIcon(true);
}

QIcon setEndIcon()
{
    return bracketIcon(false);
}

QIcon cutIcon()
{
    QPixmap pm = canvas(32, 32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawScissors(p, QRectF(2, 2, 28, 28), kAccent);
    return QIcon(pm);
}

} // namespace Artwork
