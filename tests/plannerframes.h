#pragma once

#include "cutplanner.h"

#include <algorithm>

// Generated frame lists for the cut planner's test and benchmark.
// Frames in decoding order, key frames every `gop`, with `bFrames` B-frames shown before each
// P-frame (the usual reordering); open: the key frames after the first are recovery points.
inline QList<CutFrame> makeFrames(int count, int gop, int bFrames, bool open)
{
    QList<CutFrame> frames;
    frames.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int inGop = i % gop;
        CutFrame f;
        f.size = 1000;
        f.key = inGop == 0;
        f.clean = f.key && (!open || i == 0);
        // Decoding order I P B B P B B ...: a P-frame is shown after the B-frames that follow it.
        const int group = bFrames + 1;
        if (inGop == 0 || bFrames == 0)
            f.pts = i;
        else if ((inGop - 1) % group == 0)
            f.pts = std::min(i + bFrames, (i / gop) * gop + gop - 1);
        else
            f.pts = i - 1;
        frames << f;
    }
    return frames;
}
