#pragma once

#include <QtGlobal>

#include <span>

// The limits of the H.264 and HEVC levels, one table for every part that chooses or declares a
// level.
struct CodecLevel
{
    int code; // the codec's level code: H.264 ten times the number (9 for 1b), HEVC thirty times
    const char *name; // as x264 and people write it: "3.1", "1b"
    qint64 maxMacroblocksPerSecond; // H.264 only (0 for HEVC)
    int maxFrameMacroblocks; // H.264 only (0 for HEVC)
    int maxBitrateKbps; // H.264: Baseline and Main (High allows 1.25 times); HEVC: Main tier
    int maxBufferKbits;
};

namespace CodecLevels {

// H.264 (ITU-T H.264 table A-1): 1b first, then 1 to 6.2 in increasing order.
std::span<const CodecLevel> H264();
// The same from level 1 on, without 1b.
std::span<const CodecLevel> H264Numbered();
// HEVC, Main tier, 1 to 6.2 in increasing order.
std::span<const CodecLevel> Hevc();

} // namespace CodecLevels
