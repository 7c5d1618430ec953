#include "nasliders.h"

#include "slidermath.h"

#include <QPainter>

// The artwork lives in a static library: its resources must be registered explicitly.
static void initSliderResources()
{
    Q_INIT_RESOURCE(slider);
}

namespace {

SliderBase::Artwork loadArtwork(const QString &prefix)
{
    auto picture = [&](const char *name) {
        return QPixmap(QStringLiteral(":/slider/") + prefix + QLatin1String(name));
    };
    return SliderBase::Artwork {
        picture("-track.png"), picture("-thumb.png"), picture("-thumb-disabled.png"),
        picture("-start.png"), picture("-end.png"),   picture("-band.png")
    };
}

void initResources()
{
    static const bool done = [] {
        initSliderResources();
        return true;
    }();
    Q_UNUSED(done);
}

SliderBase::Artwork positionArtwork()
{
    initResources();
    return loadArtwork(QStringLiteral("position"));
}

SliderBase::Artwork volumeArtwork()
{
    initResources();
    return loadArtwork(QStringLiteral("volume"));
}

} // namespace

NaSlider::NaSlider(QWidget *parent)
    : SliderBase(positionArtwork(), parent)
{
}

void NaSlider::paintSelection(QPainter &painter, int heightTwips)
{
    const int sel = selStart();
    const qint64 end = qint64(sel) + selLength();
    const auto xs = SliderMath::valueToX(sel, max(), thumbHalfWidth(), trackLength());
    // Start marker, its right edge on the selection start.
    if (xs && min() <= sel && sel < max())
        drawNatural(painter, artwork().selectionStart, *xs - 120, heightTwips - 75);
    // End marker and band only when the selection ends at or before Max.
    if (qint64(max()) - sel >= selLength()) {
        if (const auto xe
            = SliderMath::valueToX(double(end), max(), thumbHalfWidth(), trackLength()))
            drawNatural(painter, artwork().selectionEnd, *xe, heightTwips - 75);
        if (xs && selLength() >= 1)
            drawStretched(painter, artwork().band, *xs, 0,
                          double(selLength()) / max() * trackLength());
    }
}

NaSlider1::NaSlider1(QWidget *parent)
    : SliderBase(volumeArtwork(), parent)
{
}

void NaSlider1::paintSelection(QPainter &painter, int heightTwips)
{
    Q_UNUSED(heightTwips);
    if (max() == 0 || qint64(max()) - selStart() < selLength())
        return;
    drawStretched(painter, artwork().band, 0, 0, double(selLength()) / max() * trackLength());
}
