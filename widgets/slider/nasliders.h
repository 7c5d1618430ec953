#pragma once

#include "sliderbase.h"

// The play-position slider: its selection shows as two markers and a band between them.
class NaSlider final : public SliderBase
{
    Q_OBJECT
public:
    explicit NaSlider(QWidget *parent = nullptr);
    static constexpr const char *ClassIdentifier = "Snipora.NaSlider";

protected:
    void paintSelection(QPainter &painter, int heightTwips) override;
};

// The volume slider: its selection shows as a fill from the left edge.
class NaSlider1 final : public SliderBase
{
    Q_OBJECT
public:
    explicit NaSlider1(QWidget *parent = nullptr);
    static constexpr const char *ClassIdentifier = "Snipora.NaSlider1";

protected:
    void paintSelection(QPainter &painter, int heightTwips) override;
};
