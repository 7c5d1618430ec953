#include "slidermath.h"

#include <cfenv>
#include <cmath>
#include <cstdint>

namespace SliderMath {

std::optional<int> roundToInt(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = std::nearbyint(value); // the default rounding mode: halves to even
    if (r < double(INT32_MIN) || r > double(INT32_MAX))
        return std::nullopt;
    return int(r);
}

std::optional<int> thumbLeft(int value, int min, int max, int trackLength)
{
    if (value <= min)
        return 0;
    if (value >= max)
        return trackLength;
    if (max == 0)
        return std::nullopt;
    return roundToInt(double(value) / double(max) * double(trackLength));
}

std::optional<double> valueToX(double value, int max, int thumbHalfWidth, int trackLength)
{
    if (max == 0)
        return std::nullopt;
    return double(thumbHalfWidth) + value / double(max) * double(trackLength);
}

int xToValue(double x, int min, int max, int thumbHalfWidth, int trackLength)
{
    double r = 0.0;
    if (trackLength != 0) {
        r = (x - double(thumbHalfWidth)) * double(max) / double(trackLength);
        if (!std::isfinite(r))
            r = 0.0;
    }
    if (r <= double(min))
        return min;
    if (r >= double(max))
        return max;
    return roundToInt(r).value_or(0);
}

int stepDown(int value, int min, int change)
{
    const std::int64_t next = std::int64_t(value) - change;
    if (std::int64_t(min) >= next)
        return min;
    return next > INT32_MAX ? value : int(next); // an overflowing step is skipped
}

int stepUp(int value, int max, int change)
{
    const std::int64_t next = std::int64_t(value) + change;
    if (next >= std::int64_t(max))
        return max;
    return next < INT32_MIN ? value : int(next); // an overflowing step is skipped
}

} // namespace SliderMath
