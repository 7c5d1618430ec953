#pragma once

// The largest frames and the highest frame rate a playback device takes; zero where it sets no
// limit. A device preset carries them beside its encoder options, which stay as the preset
// writes them: the encoder's option translation holds the output within them.
struct DeviceLimits
{
    int maxWidth = 0; // the frame box, landscape; both sides or neither
    int maxHeight = 0;
    double maxFrameRate = 0;

    bool limitsSize() const { return maxWidth > 0 && maxHeight > 0; }
    bool operator==(const DeviceLimits &) const = default;
};
