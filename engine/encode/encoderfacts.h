#pragma once

#include "codeclevels.h"

#include <QList>
#include <QString>

#include <span>

// What ffmpeg's muxers and encoders accept, for the option translation: read from libavformat
// and libavcodec where they publish it (default codecs, sample rates, frame rates, pixel
// formats), and from tables here where the limit lives only inside an encoder or a muxer.
// Every function is pure; an unknown name gives the answer that constrains nothing.
namespace EncoderFacts {

// The muxer ffmpeg writes with: the one named (as -f names it), else the one it picks for the
// file extension (without the dot). "" when there is none.
QString MuxerFor(const QString &formatName, const QString &extension);

// The encoders ffmpeg uses for a muxer's video and audio when the options name none; "" when
// the muxer carries no such stream or ffmpeg has no encoder for it.
QString DefaultVideoEncoder(const QString &muxer);
QString DefaultAudioEncoder(const QString &muxer);

// How a subtitle stream of this codec (libavcodec's name) goes into the muxer: "copy" where the
// muxer carries the codec itself, else the text subtitle encoder the muxer takes for a text
// codec (SubRip for Matroska, WebVTT for WebM, mov_text for the MP4 family); "" where it
// cannot go (a picture subtitle outside Matroska, or a muxer without subtitles).
QString SubtitleCodecFor(const QString &muxer, const QString &codec);

// True when the muxer writes more than one audio (and video) track that players let the
// user choose: Matroska, WebM, MP4, MOV and MPEG-TS.
bool HoldsSeveralTracks(const QString &muxer);

// True when ffmpeg has an encoder of this name.
bool EncoderExists(const QString &encoder);

// The sample rates an audio encoder writes into a muxer, ascending; empty when any rate goes.
QList<int> SampleRates(const QString &encoder, const QString &muxer);

// The frame rates a video encoder takes (as numerator/denominator pairs); empty when any goes.
QList<std::pair<int, int>> FrameRates(const QString &encoder);

// True when the encoder takes 8-bit 4:2:0 pictures (yuv420p).
bool TakesYuv420p(const QString &encoder);

// The number both sides of a frame must be a multiple of: 4 for RealVideo, else 2 (every
// encoder here writes 4:2:0, whose chroma planes halve both sides).
int SizeMultiple(const QString &encoder);

// True for encoders that write the sample aspect ratio as two 8-bit numbers (MPEG-4 part 2
// and the H.263 family); a ratio they cannot write makes the MP4 and MOV muxers refuse.
bool ByteSizedAspect(const QString &encoder);

// The largest frame side the encoder takes; 0 when it has no limit of its own.
int MaxFrameSide(const QString &encoder);

// The most channels an audio encoder writes; 0 when it takes any number.
int MaxChannels(const QString &encoder);

// The audio bit rate (bits a second) the encoder writes nearest to the one asked for, at that
// sample rate and channel count; the rate asked for when the encoder takes any.
qint64 NearestAudioBitrate(const QString &encoder, int sampleRate, int channels, qint64 bitrate);

// H.264 levels (ITU-T H.264 table A-1) from 1 on: limits of Baseline and Main; High allows
// 1.25 times the bit rate and buffer.
using H264Level = CodecLevel;
std::span<const H264Level> H264Levels();

} // namespace EncoderFacts
