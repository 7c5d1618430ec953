#pragma once

// Owning handles for libav objects: each frees its object with the library's own function,
// so every early return releases what was allocated.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

struct AvInputDeleter
{
    void operator()(AVFormatContext *ctx) const { avformat_close_input(&ctx); }
};
struct AvOutputDeleter
{
    // Closes the file when the muxer does not own it, then frees the context.
    void operator()(AVFormatContext *ctx) const
    {
        if (ctx && ctx->oformat && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
struct AvCodecDeleter
{
    void operator()(AVCodecContext *ctx) const { avcodec_free_context(&ctx); }
};
struct AvPacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct AvFrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};

using AvInputPtr = std::unique_ptr<AVFormatContext, AvInputDeleter>;
using AvOutputPtr = std::unique_ptr<AVFormatContext, AvOutputDeleter>;
using AvCodecPtr = std::unique_ptr<AVCodecContext, AvCodecDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;

// An options dictionary for an opening function (avcodec_open2 and the like), freed with it
// whatever the function left in it.
class AvDictionary
{
public:
    AvDictionary() = default;
    AvDictionary(const AvDictionary &) = delete;
    AvDictionary &operator=(const AvDictionary &) = delete;
    ~AvDictionary() { av_dict_free(&m_dict); }

    void set(const char *key, const char *value) { av_dict_set(&m_dict, key, value, 0); }
    // For the opening function, which takes the entries it uses and leaves the others.
    AVDictionary **address() { return &m_dict; }

private:
    AVDictionary *m_dict = nullptr;
};

inline AvPacketPtr MakePacket()
{
    return AvPacketPtr(av_packet_alloc());
}
inline AvFramePtr MakeFrame()
{
    return AvFramePtr(av_frame_alloc());
}
