#include "mainlayout.h"

#include <cmath>

namespace MainLayout {

Result Compute(QSize window, QSize guide)
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
    r.playerRect = QRect(0, 0, p, paneTop);
    r.guideTopLeft = QPoint((p - guide.width()) / 2, (paneTop - guide.height()) / 2);
    r.columnLeftTwips = paneTwips - ColumnButtonWidthTwips - ColumnMarginTwips;
    r.displaySize = r.playerRect.size();
    return r;
}

QRect TwipsToPixels(int left, int top, int width, int height)
{
    auto px = [](int twips) { return int(std::lround(double(twips) / TwipsPerPixel)); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace MainLayout
