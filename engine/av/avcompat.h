#pragma once

// What differs between the libav releases the engine builds with. Newer releases name the
// codec profiles AV_PROFILE_* (libavcodec 60.26, FFmpeg 6.1; FFmpeg 7 removes FF_PROFILE_*)
// and keep a stream's side data in its codec parameters (libavformat 60.15, FFmpeg 6.1;
// FFmpeg 7 removes AVStream's own side data). Engine code uses these names only.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstring>

#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 26, 100)
#define SNIPORA_PROFILE(name) AV_PROFILE_##name
#else
#define SNIPORA_PROFILE(name) FF_PROFILE_##name
#endif

// Gives an output stream the side data of the input stream it copies (display matrix, HDR
// metadata), after avcodec_parameters_copy() copied the codec parameters: newer releases hold
// the side data in those, so the copy has already brought it.
inline void CopyStreamSideData(const AVStream *in, AVStream *out)
{
#if LIBAVFORMAT_VERSION_INT < AV_VERSION_INT(60, 15, 100)
    for (int s = 0; s < in->nb_side_data; ++s) {
        const AVPacketSideData &side = in->side_data[s];
        if (uint8_t *data = av_stream_new_side_data(out, side.type, side.size))
            memcpy(data, side.data, side.size);
    }
#else
    (void)in;
    (void)out;
#endif
}
