#include "mainlayout.h"

#include <algorithm>
#include <cmath>

namespace MainLayout {

Result Compute(QSize window, QSize guide, const Extras &extras)
{
    Result r;
    const int paneTop = window.height() - PaneHeightPixels;
    const int p = window.width(); // the pane spans the window
    r.displaySize = QSize(std::max(0, p), std::max(0, paneTop));

    const int paneTwips = p * TwipsPerPixel;
    r.positionSliderWidthTwips = paneTwips - 400;
    if (r.positionSliderWidthTwips < 0 || paneTop < 0)
        return r; // the slider width cannot be set: the remaining steps are skipped
    r.sliderOk = true;
    r.centreGroupLeftTwips = (paneTwips - CentreGroupWidthTwips) / 2;
    r.columnLeftTwips = paneTwips - ColumnButtonWidthTwips - ColumnMarginTwips;
    // The timeline spans the slider's width so that a time sits at the same x in both.
    const int strip = std::clamp(extras.timelineHeight, 0, paneTop);
    const int videoBottom = paneTop - strip;
    const bool panel = extras.panelWidth > 0
        && p - extras.panelWidth >= MinimumVideoWidthBesidePanel && videoBottom > 0;
    const int videoWidth = panel ? p - extras.panelWidth : p;
    if (panel)
        r.panelRect = QRect(videoWidth, 0, extras.panelWidth, videoBottom);
    const int sliderLeft = int(std::lround(double(PositionSliderLeftTwips) / TwipsPerPixel));
    const int sliderWidth = int(std::lround(r.positionSliderWidthTwips / double(TwipsPerPixel)));
    if (strip > 0 && extras.timelineFillsVideoArea)
        r.timelineRect
            = QRect(sliderLeft, 0, std::min(sliderWidth, videoWidth - sliderLeft), paneTop);
    else if (strip > 0)
        r.timelineRect = QRect(sliderLeft, videoBottom, sliderWidth, strip);
    r.playerRect = QRect(0, 0, videoWidth, videoBottom);
    r.guideTopLeft = QPoint((videoWidth - guide.width()) / 2, (videoBottom - guide.height()) / 2);
    r.displaySize = r.playerRect.size();
    return r;
}

QRect TwipsToPixels(int left, int top, int width, int height)
{
    auto px = [](int twips) { return int(std::lround(double(twips) / TwipsPerPixel)); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace MainLayout
