#pragma once

// Owning handles for the libav objects of the timeline's builders: each frees its object with
// the library's own function, so every early return releases what was allocated.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace TimelineAv {

struct InputDeleter
{
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct CodecDeleter
{
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct ScalerDeleter
{
    void operator()(SwsContext *ctx) const { sws_freeContext(ctx); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

inline PacketPtr makePacket()
{
    return PacketPtr(av_packet_alloc());
}
inline FramePtr makeFrame()
{
    return FramePtr(av_frame_alloc());
}

} // namespace TimelineAv
