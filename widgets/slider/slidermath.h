#pragma once

#include <optional>

// The slider's arithmetic, in twips. A step that cannot be computed (division by zero, a
// result outside 32 bits) gives no value, and the caller skips it.
namespace SliderMath {

constexpr int TwipsPerPixel = 15;

// Nearest integer, halves to the even neighbour; none outside the 32-bit range or for NaN.
std::optional<int> roundToInt(double value);

// The thumb's left edge for a value: 0 at or below min, the track length at or above max,
// else round(value / max * trackLength).
std::optional<int> thumbLeft(int value, int min, int max, int trackLength);

// The x of a scale value: thumbHalfWidth + value / max * trackLength.
std::optional<double> valueToX(double value, int max, int thumbHalfWidth, int trackLength);

// The value for an x: r = (x - thumbHalfWidth) * max / trackLength (0 when that cannot be
// computed), then min when r <= min, max when r >= max, else r rounded halves to even.
int xToValue(double x, int min, int max, int thumbHalfWidth, int trackLength);

// The value after a key step: the limit when the step reaches it, else value -/+ step.
int stepDown(int value, int min, int change);
int stepUp(int value, int max, int change);

} // namespace SliderMath
