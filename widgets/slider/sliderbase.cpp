#include "sliderbase.h"

#include "propertybag.h"
#include "slidermath.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kTwips = SliderMath::TwipsPerPixel;
constexpr quint32 kSecondBackColorDefault = 15916757; // 0xF2DED5: red 213, green 222, blue 242

int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int buttonMask(Qt::MouseButtons buttons)
{
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0)
        | (buttons & Qt::MiddleButton ? 4 : 0);
}

int shiftMask(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
        | (modifiers & Qt::AltModifier ? 4 : 0);
}

// Qt key to the virtual key code the slider's key handling and events speak.
int keyCode(int key)
{
    switch (key) {
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Shift:
        return 16;
    case Qt::Key_Control:
        return 17;
    case Qt::Key_Alt:
        return 18;
    default:
        break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    return key & 0xffff; // letters, digits and space share their codes
}

} // namespace

SliderBase::SliderBase(Artwork artwork, QWidget *parent)
    : QWidget(parent)
    , m_artwork(std::move(artwork))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    recomputeGeometry();
}

QColor SliderBase::colorFromOle(quint32 color, const QPalette &palette)
{
    if (color & 0x80000000u) {
        switch (color & 0xff) {
        case 0x0F: // button face
            return palette.color(QPalette::Button);
        case 0x12: // button text
            return palette.color(QPalette::ButtonText);
        case 0x05: // window
            return palette.color(QPalette::Base);
        case 0x08: // window text
            return palette.color(QPalette::Text);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(color & 0xff), int((color >> 8) & 0xff), int((color >> 16) & 0xff));
}

void SliderBase::setValue(int value)
{
    int v = value;
    if (v > m_max)
        v = m_max;
    if (v < m_min)
        v = m_min;
    m_value = v;
    Q_EMIT propertyChanged(QStringLiteral("Value"));
    repaint();
}

void SliderBase::setMin(int min)
{
    m_min = min;
    Q_EMIT propertyChanged(QStringLiteral("Min"));
}

void SliderBase::setMax(int max)
{
    m_max = max;
    Q_EMIT propertyChanged(QStringLiteral("Max"));
}

void SliderBase::setSmallChange(int change)
{
    m_smallChange = change;
    Q_EMIT propertyChanged(QStringLiteral("SmallChange"));
}

void SliderBase::setLargeChange(int change)
{
    m_largeChange = change;
    Q_EMIT propertyChanged(QStringLiteral("LargeChange"));
}

void SliderBase::setShowTicks(bool show)
{
    m_showTicks = show;
    Q_EMIT propertyChanged(QStringLiteral("ShowTicks"));
}

void SliderBase::setTickNumber(int number)
{
    m_tickNumber = number;
    Q_EMIT propertyChanged(QStringLiteral("TickNumber"));
}

void SliderBase::setSelStart(int start)
{
    m_selStart = start;
    Q_EMIT propertyChanged(QStringLiteral("SelStart"));
    repaint(); // every paint starts from a cleared surface
}

void SliderBase::setSelLength(int length)
{
    m_selLength = length;
    Q_EMIT propertyChanged(QStringLiteral("SelLength"));
    repaint();
}

void SliderBase::setBackColor(quint32 color)
{
    m_backColor = color;
    Q_EMIT propertyChanged(QStringLiteral("BackColor"));
}

void SliderBase::setForeColor(quint32 color)
{
    m_foreColor = color;
    Q_EMIT propertyChanged(QStringLiteral("ForeColor"));
}

void SliderBase::setBackStyle(int style)
{
    m_backStyle = style;
    Q_EMIT propertyChanged(QStringLiteral("BackStyle"));
}

void SliderBase::setBorderStyle(int style)
{
    m_borderStyle = style;
    Q_EMIT propertyChanged(QStringLiteral("BorderStyle"));
}

void SliderBase::Refresh()
{
    repaint();
}

void SliderBase::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        Q_EMIT propertyChanged(QStringLiteral("Enabled"));
    else if (event->type() == QEvent::FontChange)
        Q_EMIT propertyChanged(QStringLiteral("Font"));
}

void SliderBase::saveProperties(PropertyBag &bag) const
{
    const QFont containerFont = parentWidget() ? parentWidget()->font() : QApplication::font();
    for (quint32 backDefault : { SystemButtonFace, kSecondBackColorDefault }) {
        bag.writeProperty(QStringLiteral("BackColor"), m_backColor, backDefault);
        bag.writeProperty(QStringLiteral("ForeColor"), m_foreColor, SystemButtonText);
        bag.writeProperty(QStringLiteral("Enabled"), isEnabled(), true);
        bag.writeProperty(QStringLiteral("Font"), font().toString(), containerFont.toString());
        bag.writeProperty(QStringLiteral("BackStyle"), m_backStyle, 1);
        bag.writeProperty(QStringLiteral("BorderStyle"), m_borderStyle, 0);
    }
    bag.writeProperty(QStringLiteral("Value"), m_value, 0);
    bag.writeProperty(QStringLiteral("Min"), m_min, 0);
    bag.writeProperty(QStringLiteral("SmallChange"), m_smallChange, 1);
    bag.writeProperty(QStringLiteral("LargeChange"), m_largeChange, 10);
    bag.writeProperty(QStringLiteral("ShowTicks"), m_showTicks, true);
    bag.writeProperty(QStringLiteral("Max"), m_max, 1000);
    bag.writeProperty(QStringLiteral("TickNumber"), m_tickNumber, 10);
    bag.writeProperty(QStringLiteral("SelStart"), m_selStart, 0);
    bag.writeProperty(QStringLiteral("SelLength"), m_selLength, 0);
}

void SliderBase::loadProperties(PropertyBag &bag)
{
    const QFont containerFont = parentWidget() ? parentWidget()->font() : QApplication::font();
    for (quint32 backDefault : { SystemButtonFace, kSecondBackColorDefault }) {
        setBackColor(bag.readProperty(QStringLiteral("BackColor"), backDefault).toUInt());
        setForeColor(bag.readProperty(QStringLiteral("ForeColor"), SystemButtonText).toUInt());
        setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
        QFont f;
        if (f.fromString(
                bag.readProperty(QStringLiteral("Font"), containerFont.toString()).toString()))
            setFont(f);
        setBackStyle(bag.readProperty(QStringLiteral("BackStyle"), 1).toInt());
        setBorderStyle(bag.readProperty(QStringLiteral("BorderStyle"), 0).toInt());
    }
    // The scale goes straight into the fields: no clamping, no repaint.
    m_value = bag.readProperty(QStringLiteral("Value"), 0).toInt();
    m_min = bag.readProperty(QStringLiteral("Min"), 0).toInt();
    m_smallChange = bag.readProperty(QStringLiteral("SmallChange"), 1).toInt();
    m_largeChange = bag.readProperty(QStringLiteral("LargeChange"), 10).toInt();
    m_showTicks = bag.readProperty(QStringLiteral("ShowTicks"), true).toBool();
    m_max = bag.readProperty(QStringLiteral("Max"), 1000).toInt();
    m_tickNumber = bag.readProperty(QStringLiteral("TickNumber"), 10).toInt();
    m_selStart = bag.readProperty(QStringLiteral("SelStart"), 0).toInt();
    m_selLength = bag.readProperty(QStringLiteral("SelLength"), 0).toInt();
}

void SliderBase::initNewControl()
{
    setFont(parentWidget() ? parentWidget()->font() : QApplication::font());
    m_value = 0;
    m_min = 0;
    m_max = 1000;
    m_smallChange = 1;
    m_largeChange = 10;
    m_showTicks = true;
    m_tickNumber = 10;
    m_selStart = 0;
    m_selLength = 0;
}

void SliderBase::recomputeGeometry()
{
    const double thumbWidth
        = m_artwork.thumb.isNull() ? 0.0 : double(m_artwork.thumb.width() * kTwips);
    if (const auto half = SliderMath::roundToInt(thumbWidth / 2.0))
        m_thumbHalfWidth = *half;
    const qint64 track = qint64(width()) * kTwips - qint64(thumbWidth);
    if (track >= INT32_MIN && track <= INT32_MAX)
        m_trackLength = int(track);
}

void SliderBase::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    recomputeGeometry();
    Q_EMIT resized();
}

void SliderBase::drawNatural(QPainter &painter, const QPixmap &picture, double x, double y) const
{
    if (picture.isNull())
        return;
    painter.drawPixmap(QRectF(x, y, picture.width() * kTwips, picture.height() * kTwips), picture,
                       QRectF(picture.rect()));
}

void SliderBase::drawStretched(QPainter &painter, const QPixmap &picture, double x, double y,
                               double width) const
{
    if (picture.isNull() || !(width > 0))
        return;
    painter.drawPixmap(QRectF(x, y, width, picture.height() * kTwips), picture,
                       QRectF(picture.rect()));
}

void SliderBase::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), colorFromOle(m_backColor, palette()));
    painter.scale(1.0 / kTwips, 1.0 / kTwips);
    const int w = width() * kTwips;
    const int h = height() * kTwips;

    // Painted bottom up: the track strip (a stretched middle and two fixed 100-twip caps),
    const QPixmap &strip = m_artwork.track;
    if (!strip.isNull()) {
        const double cap = 100.0 / kTwips; // in strip pixels
        const double stripHeight = strip.height() * kTwips;
        painter.drawPixmap(QRectF(0, 0, w, stripHeight), strip,
                           QRectF(cap, 0, cap, strip.height()));
        painter.drawPixmap(QRectF(0, 0, 100, stripHeight), strip,
                           QRectF(0, 0, cap, strip.height()));
        painter.drawPixmap(QRectF(w - 100, 0, 100, stripHeight), strip,
                           QRectF(strip.width() - cap, 0, cap, strip.height()));
    }

    // the ticks hanging from the bottom edge,
    if (m_showTicks) {
        painter.setPen(QPen(QColor(120, 120, 120), 0));
        auto tick = [&](double x) { painter.drawLine(QPointF(x, h), QPointF(x, h - 100)); };
        tick(m_thumbHalfWidth);
        if (m_tickNumber != 0) {
            if (const auto step = SliderMath::roundToInt(double(m_trackLength) / m_tickNumber)) {
                for (int i = 1; i <= m_tickNumber; ++i)
                    tick(m_thumbHalfWidth + double(*step) * i);
            }
        }
    }

    // the selection,
    paintSelection(painter, h);

    // and the thumb at the value, over everything.
    if (const auto left = SliderMath::thumbLeft(m_value, m_min, m_max, m_trackLength))
        m_thumbLeft = *left;
    drawNatural(painter, isEnabled() ? m_artwork.thumb : m_artwork.thumbDisabled, m_thumbLeft, 0);

    painter.end();
    Q_EMIT painted();
}

void SliderBase::setValueFromX(double x)
{
    setValue(SliderMath::xToValue(x, m_min, m_max, m_thumbHalfWidth, m_trackLength));
}

void SliderBase::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    m_pressInside = true;
    m_afterDoubleClick = false;
    const QPointF p = event->position() * kTwips;
    Q_EMIT mouseDown(buttonCode(event->button()), shiftMask(event->modifiers()), float(p.x()),
                     float(p.y()));
}

void SliderBase::mouseMoveEvent(QMouseEvent *event)
{
    const int buttons = buttonMask(event->buttons());
    if (buttons == 2)
        return; // the right button alone: nothing, not even the event
    const QPointF p = event->position() * kTwips;
    if (m_dragging) {
        setValueFromX(p.x());
        repaint();
    }
    Q_EMIT mouseMove(buttons, shiftMask(event->modifiers()), float(p.x()), float(p.y()));
}

void SliderBase::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    const int button = buttonCode(event->button());
    const QPointF p = event->position() * kTwips;
    if (button == 1) {
        if (const auto x = SliderMath::roundToInt(p.x()))
            m_lastUpX = *x;
    }
    Q_EMIT mouseUp(button, shiftMask(event->modifiers()), float(p.x()), float(p.y()));
    // A click follows a release over the control that ends a press made on it; the release
    // that ends a double-click raises none.
    const bool click
        = m_pressInside && !m_afterDoubleClick && rect().contains(event->position().toPoint());
    m_pressInside = false;
    m_afterDoubleClick = false;
    if (click)
        handleClick();
}

void SliderBase::handleClick()
{
    const qint64 offset = qint64(m_lastUpX) - m_thumbHalfWidth;
    setValueFromX(double(offset) + m_thumbHalfWidth);
    repaint();
    Q_EMIT clicked();
}

void SliderBase::mouseDoubleClickEvent(QMouseEvent *)
{
    m_afterDoubleClick = true;
    m_pressInside = false;
    Q_EMIT doubleClicked();
}

void SliderBase::keyPressEvent(QKeyEvent *event)
{
    const int code = keyCode(event->key());
    switch (code) {
    case 33:
        setValue(SliderMath::stepDown(m_value, m_min, m_largeChange));
        break;
    case 34:
        setValue(SliderMath::stepUp(m_value, m_max, m_largeChange));
        break;
    case 37:
        setValue(SliderMath::stepDown(m_value, m_min, m_smallChange));
        break;
    case 39:
        setValue(SliderMath::stepUp(m_value, m_max, m_smallChange));
        break;
    default:
        break;
    }
    repaint();
    Q_EMIT keyDown(code, shiftMask(event->modifiers()));
    const QString text = event->text();
    if (text.size() == 1 && text.at(0).unicode() < 256 && text.at(0).unicode() != 0)
        Q_EMIT keyPress(text.at(0).unicode());
    event->accept();
}

void SliderBase::keyReleaseEvent(QKeyEvent *event)
{
    Q_EMIT keyUp(keyCode(event->key()), shiftMask(event->modifiers()));
    event->accept();
}
