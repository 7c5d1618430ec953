#pragma once

#include <QByteArray>

// The few fields of MPEG-2 video headers a copy rewrites where copied pictures follow other
// ones: the group of pictures header's time code and its closed_gop and broken_link flags, and
// each picture's temporal_reference (its place in display order within its group). Start codes
// cannot occur inside MPEG-2 headers or slices, so the headers are found by their start codes
// alone.
namespace Mpeg2Headers {

// True when the data holds a group of pictures header (00 00 01 B8).
bool hasGopHeader(const QByteArray &data);
// The temporal_reference of the first picture header (00 00 01 00) in the data; -1: none.
int temporalReference(const QByteArray &data);

// The data with the first group of pictures header's flags set as given (unchanged without
// one).
QByteArray withGopFlags(QByteArray data, bool closedGop, bool brokenLink);
// The data with the first group of pictures header's time code set to the time of picture
// `frame` (counted from 0) at `framesPerSecond` (the nominal rate rounded: 30 for 29.97),
// dropping frame numbers as drop-frame time code does where the header says so; unchanged
// without a header.
QByteArray withTimeCode(QByteArray data, qint64 frame, int framesPerSecond);
// The time code of the first group of pictures header as a picture count (see withTimeCode);
// -1: none.
qint64 timeCodeFrame(const QByteArray &data, int framesPerSecond);

// The data with `shift` taken from every picture's temporal_reference (kept at 0 or more).
QByteArray withTemporalShift(QByteArray data, int shift);

} // namespace Mpeg2Headers
