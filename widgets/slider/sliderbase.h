#pragma once

#include <QPixmap>
#include <QWidget>

class PropertyBag;

// The program's own horizontal slider: a surface painted from six bitmaps, a scale from Min to
// Max, an optional selection, and input that moves the value. Coordinates inside the control
// are twips (15 to a pixel); painting runs a painter scaled by 1/15 so the arithmetic stays in
// twips. NaSlider and NaSlider1 differ only in artwork and in how the selection is painted.
//
// No signal is emitted when the value changes: the host hears of user changes through
// clicked(), mouseMove() and mouseUp() and reads value() itself. propertyChanged() reports a
// property whose persisted state is now dirty, by its stored name ("Value", "Max", ...).
class SliderBase : public QWidget
{
    Q_OBJECT
public:
    struct Artwork
    {
        QPixmap track; // PicSdXP
        QPixmap thumb; // ImageSd
        QPixmap thumbDisabled; // Imagedis
        QPixmap selectionStart; // ImageStart
        QPixmap selectionEnd; // ImageEnd
        QPixmap band; // ImageSel
    };

    // OLE colour codes: 0x00BBGGRR, or 0x800000nn for a system colour.
    static constexpr quint32 SystemButtonFace = 0x8000000F;
    static constexpr quint32 SystemButtonText = 0x80000012;

    int value() const { return m_value; }
    void setValue(int value);
    int min() const { return m_min; }
    void setMin(int min);
    int max() const { return m_max; }
    void setMax(int max);
    int smallChange() const { return m_smallChange; }
    void setSmallChange(int change);
    int largeChange() const { return m_largeChange; }
    void setLargeChange(int change);
    bool showTicks() const { return m_showTicks; }
    void setShowTicks(bool show);
    int tickNumber() const { return m_tickNumber; }
    void setTickNumber(int number);
    int selStart() const { return m_selStart; }
    void setSelStart(int start);
    int selLength() const { return m_selLength; }
    void setSelLength(int length);
    quint32 backColor() const { return m_backColor; }
    void setBackColor(quint32 color);
    quint32 foreColor() const { return m_foreColor; }
    void setForeColor(quint32 color);
    int backStyle() const { return m_backStyle; }
    void setBackStyle(int style);
    int borderStyle() const { return m_borderStyle; }
    void setBorderStyle(int style);

    // Forces a repaint now.
    void Refresh();

    // Geometry and input state, in twips.
    int thumbHalfWidth() const { return m_thumbHalfWidth; }
    int trackLength() const { return m_trackLength; }
    int thumbLeft() const { return m_thumbLeft; }
    bool dragging() const { return m_dragging; }
    int lastUpX() const { return m_lastUpX; }

    // Persistence: save writes 21 entries in a fixed order; load reads them back in the same
    // order (the six appearance keys twice) and stores the scale values without clamping.
    void saveProperties(PropertyBag &bag) const;
    void loadProperties(PropertyBag &bag);
    // A newly placed control: the container's font and the scale defaults.
    void initNewControl();

    static QColor colorFromOle(quint32 color, const QPalette &palette);

Q_SIGNALS:
    void propertyChanged(const QString &name);
    void resized();
    void clicked();
    void doubleClicked();
    void keyDown(int keyCode, int shift);
    void keyPress(int keyAscii);
    void keyUp(int keyCode, int shift);
    void mouseDown(int button, int shift, float x, float y);
    void mouseMove(int button, int shift, float x, float y);
    void mouseUp(int button, int shift, float x, float y);
    void painted();

protected:
    SliderBase(Artwork artwork, QWidget *parent);

    // Draws the selection; heightTwips is the control's height. Called with a painter in twips.
    virtual void paintSelection(QPainter &painter, int heightTwips) = 0;
    const Artwork &artwork() const { return m_artwork; }
    // A picture at its natural size, in twips, with its top-left corner at (x, y).
    void drawNatural(QPainter &painter, const QPixmap &picture, double x, double y) const;
    // A picture stretched to a width in twips, at its natural height.
    void drawStretched(QPainter &painter, const QPixmap &picture, double x, double y,
                       double width) const;

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setValueFromX(double x);
    void handleClick();
    void recomputeGeometry();

    Artwork m_artwork;
    int m_value = 0;
    int m_min = 0;
    int m_max = 1000;
    int m_smallChange = 1;
    int m_largeChange = 10;
    bool m_showTicks = true;
    int m_tickNumber = 10;
    int m_selStart = 0;
    int m_selLength = 0;
    quint32 m_backColor = SystemButtonFace;
    quint32 m_foreColor = SystemButtonText;
    int m_backStyle = 1;
    int m_borderStyle = 0;

    int m_thumbHalfWidth = 0;
    int m_trackLength = 0;
    int m_thumbLeft = 0;
    bool m_dragging = false;
    int m_lastUpX = 0;
    bool m_pressInside = false;
    bool m_afterDoubleClick = false;
};
