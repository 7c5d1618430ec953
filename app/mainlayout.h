#pragma once

#include <QRect>
#include <QSize>

// The main window's geometry: a video area above a bottom-docked control pane. The pane and
// its children are designed in twips, 15 to a pixel.
namespace MainLayout {

constexpr int TwipsPerPixel = 15;
constexpr int PaneHeightTwips = 1830;
constexpr int PaneHeightPixels = PaneHeightTwips / TwipsPerPixel; // 122
constexpr int PositionSliderLeftTwips = 165;
constexpr int PositionSliderRightMarginTwips = 400 - PositionSliderLeftTwips;
constexpr int CentreGroupWidthTwips = 9210;
constexpr int ColumnButtonWidthTwips = 360;
constexpr int ColumnMarginTwips = 100;

// What the window shows besides the Part's own controls: the timeline strip just above the
// pane (under the video, over the position slider's span) and the segment panel at the right of
// the video area. Zero sizes leave the classic layout.
struct Extras
{
    int timelineHeight = 0; // pixels
    int panelWidth = 0; // pixels; the panel is left out when the window is too narrow for it
    // A file without video: the timeline takes the whole area above the pane (its waveform
    // stands where the picture would be).
    bool timelineFillsVideoArea = false;
};

// The narrowest video area beside which the segment panel is still shown.
constexpr int MinimumVideoWidthBesidePanel = 320;

struct Result
{
    // Steps that may fail (a window too narrow for the slider): when sliderOk is false the
    // slider, centre group, video area, guide and column keep their previous geometry.
    bool sliderOk = false;
    int positionSliderWidthTwips = 0;
    int centreGroupLeftTwips = 0;
    QRect playerRect; // pixels, in the window
    QPoint guideTopLeft; // pixels, in the video area
    int columnLeftTwips = 0;
    QRect timelineRect; // pixels, in the window; empty without a timeline
    QRect panelRect; // pixels, in the window; empty when the panel is not shown
    // Always computed: the size the player is told to draw at.
    QSize displaySize;
};

// window: the window's client size in pixels; guide: the guide picture's size in pixels.
Result Compute(QSize window, QSize guide, const Extras &extras = {});

// Twips to pixels for a stored design rectangle.
QRect TwipsToPixels(int left, int top, int width, int height);

} // namespace MainLayout
