#pragma once

#include "sourcereader.h"

#include <QByteArray>
#include <QString>

// Which videos an exact copy can cut to the frame: the codecs whose edges it encodes anew, the
// containers it writes them in, and, for every other source, a reason a user can read.
namespace ExactCodecs {

// "" when the video of the open source can be cut to the frame; otherwise why not, as the
// end of a sentence ("the video is AV1; ..."). May read packets of the source (MPEG-4 part 2:
// its first picture tells whether its B-frames are packed); seek before reading on.
QString obstacle(SourceReader &reader);

// True for the codecs whose packets are NAL units (H.264, HEVC).
bool usesNalUnits(AVCodecID codec);

// For codecs whose decoder headers travel in the stream before a key frame (MPEG-2's sequence
// header, MPEG-4 part 2's VOL): true when this packet does not begin with them. A copied key
// frame after re-encoded frames then needs the source's headers in front of it, or the
// decoder would read it under the new frames' headers. False for every other codec.
bool lacksInBandHeader(AVCodecID codec, const AVPacket *packet);

// True for codecs whose re-encoded frames bring their own decoder headers in the stream in
// every container (MPEG-4 part 2's VOL): the copied key frame after them brings the
// source's, even where the container also holds them in its decoder configuration.
bool headersInStream(AVCodecID codec);

// True when the video's pictures are coded as interlaced: its field order says so, or for
// H.264 its sequence parameter set allows field and MBAFF coding (x264's interlaced frames
// often declare no field order).
bool codedInterlaced(const AVCodecParameters *par);

// True when MPEG-4 part 2 data carries the user data of a packed bitstream (DivX style: a
// P-frame and the B-frame shown before it in one packet, "DivX503b1393p").
bool packedBitstream(const QByteArray &data);

} // namespace ExactCodecs
