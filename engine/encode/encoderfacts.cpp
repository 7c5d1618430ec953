#include "encoderfacts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace {

const AVCodec *encoderNamed(const QString &name)
{
    if (name.isEmpty())
        return nullptr;
    return avcodec_find_encoder_by_name(name.toLatin1().constData());
}

const AVOutputFormat *muxerNamed(const QString &name)
{
    if (name.isEmpty())
        return nullptr;
    return av_guess_format(name.toLatin1().constData(), nullptr, nullptr);
}

QString defaultEncoder(const QString &muxer, bool video)
{
    const AVOutputFormat *format = muxerNamed(muxer);
    if (!format)
        return QString();
    const AVCodecID id = video ? format->video_codec : format->audio_codec;
    if (id == AV_CODEC_ID_NONE)
        return QString();
    const AVCodec *codec = avcodec_find_encoder(id);
    return codec ? QString::fromLatin1(codec->name) : QString();
}

bool isOneOf(const QString &value, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&value](const char *n) { return value == QLatin1String(n); });
}

// The sample rates libvorbis has tuning tables for, and the bit rates (bits a second) its
// managed mode accepts at each, for one and for two channels; measured on libvorbis 1.3.7,
// rounded inwards to whole kbit/s. Outside them its set-up fails.
struct VorbisRange
{
    int sampleRate;
    qint64 monoMin, monoMax, stereoMin, stereoMax;
};
const VorbisRange kVorbisRanges[] = {
    { 8000, 9000, 41000, 13000, 83000 },     { 11025, 13000, 49000, 17000, 99000 },
    { 16000, 17000, 99000, 25000, 199000 },  { 22050, 17000, 89000, 31000, 179000 },
    { 32000, 31000, 189000, 37000, 379000 }, { 44100, 33000, 239000, 46000, 499000 },
    { 48000, 33000, 239000, 46000, 499000 },
};

// MPEG audio layer II bit rates (kbit/s): MPEG-1 at 32, 44.1 and 48 kHz, MPEG-2 at half those.
const int kMp2Bitrates[] = { 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384 };
const int kMp2LowRateBitrates[] = { 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160 };

template<typename Range> qint64 nearestIn(const Range &kbits, qint64 bitrate)
{
    qint64 best = 0;
    for (const int k : kbits) {
        const qint64 v = qint64(k) * 1000;
        if (best == 0 || std::llabs(v - bitrate) <= std::llabs(best - bitrate)) // a tie goes up
            best = v;
    }
    return best;
}

} // namespace

namespace EncoderFacts {

QString SubtitleCodecFor(const QString &muxer, const QString &codec)
{
    const AVOutputFormat *format = muxerNamed(muxer);
    const AVCodecDescriptor *d = avcodec_descriptor_get_by_name(codec.toLatin1().constData());
    if (!format || !d || d->type != AVMEDIA_TYPE_SUBTITLE)
        return QString();
    if (avformat_query_codec(format, d->id, FF_COMPLIANCE_NORMAL) == 1)
        return QStringLiteral("copy");
    if (!(d->props & AV_CODEC_PROP_TEXT_SUB))
        return QString();
    if (isOneOf(muxer, { "matroska" }))
        return QStringLiteral("srt");
    if (isOneOf(muxer, { "webm" }))
        return QStringLiteral("webvtt");
    if (isOneOf(muxer, { "mp4", "mov", "ipod", "3gp", "3g2", "ismv", "f4v" }))
        return QStringLiteral("mov_text");
    return QString();
}

bool HoldsSeveralTracks(const QString &muxer)
{
    return isOneOf(muxer, { "matroska", "webm", "mp4", "mov", "mpegts" });
}

QString MuxerFor(const QString &formatName, const QString &extension)
{
    const AVOutputFormat *format = nullptr;
    if (!formatName.isEmpty())
        format = muxerNamed(formatName);
    else if (!extension.isEmpty())
        format = av_guess_format(nullptr, ("x." + extension.toUtf8()).constData(), nullptr);
    return format ? QString::fromLatin1(format->name) : QString();
}

QString DefaultVideoEncoder(const QString &muxer)
{
    return defaultEncoder(muxer, true);
}

QString DefaultAudioEncoder(const QString &muxer)
{
    return defaultEncoder(muxer, false);
}

bool EncoderExists(const QString &encoder)
{
    return encoderNamed(encoder) != nullptr;
}

QList<int> SampleRates(const QString &encoder, const QString &muxer)
{
    QList<int> rates;
    if (encoder == QLatin1String("libvorbis")) {
        for (const VorbisRange &r : kVorbisRanges)
            rates << r.sampleRate;
    } else if (encoder == QLatin1String("wmav2") || encoder == QLatin1String("wmav1")) {
        // The WMA encoder refuses rates above 48 kHz.
        rates = { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 };
    } else if (const AVCodec *codec = encoderNamed(encoder);
               codec && codec->supported_samplerates) {
        for (const int *r = codec->supported_samplerates; *r; ++r)
            rates << *r;
    }
    // FLV and SWF have a two-bit rate field: MP3 and PCM go at 11, 22 or 44 kHz only (AAC
    // carries its own rate).
    if (isOneOf(muxer, { "flv", "swf" }) && encoder != QLatin1String("aac")) {
        const QList<int> field { 11025, 22050, 44100 };
        if (rates.isEmpty()) {
            rates = field;
        } else {
            rates.removeIf([&field](int r) { return !field.contains(r); });
            if (rates.isEmpty())
                rates = field;
        }
    }
    std::sort(rates.begin(), rates.end());
    return rates;
}

QList<std::pair<int, int>> FrameRates(const QString &encoder)
{
    if (encoder == QLatin1String("mpeg1video")) // the frame_rate_code table; libavcodec lists none
        return { { 24000, 1001 }, { 24, 1 }, { 25, 1 },       { 30000, 1001 },
                 { 30, 1 },       { 50, 1 }, { 60000, 1001 }, { 60, 1 } };
    QList<std::pair<int, int>> rates;
    if (const AVCodec *codec = encoderNamed(encoder); codec && codec->supported_framerates) {
        for (const AVRational *r = codec->supported_framerates; r->num || r->den; ++r)
            rates.append({ r->num, r->den });
    }
    return rates;
}

bool TakesYuv420p(const QString &encoder)
{
    const AVCodec *codec = encoderNamed(encoder);
    if (!codec || !codec->pix_fmts)
        return false;
    for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_YUV420P)
            return true;
    }
    return false;
}

int SizeMultiple(const QString &encoder)
{
    return isOneOf(encoder, { "rv10", "rv20" }) ? 4 : 2;
}

bool ByteSizedAspect(const QString &encoder)
{
    return isOneOf(encoder,
                   { "mpeg4", "libxvid", "msmpeg4", "msmpeg4v2", "msmpeg4v3", "wmv1", "wmv2", "flv",
                     "h263", "h263p", "rv10", "rv20" });
}

int MaxFrameSide(const QString &encoder)
{
    return encoder == QLatin1String("mpeg1video") ? 4095 : 0;
}

int MaxChannels(const QString &encoder)
{
    if (encoder == QLatin1String("wmav2") || encoder == QLatin1String("wmav1"))
        return 2; // the WMA encoder refuses more, though libavcodec lists no layouts for it
    const AVCodec *codec = encoderNamed(encoder);
    if (!codec || !codec->ch_layouts)
        return 0;
    int most = 0;
    for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l)
        most = std::max(most, l->nb_channels);
    return most;
}

qint64 NearestAudioBitrate(const QString &encoder, int sampleRate, int channels, qint64 bitrate)
{
    if (bitrate <= 0)
        return bitrate;
    if (encoder == QLatin1String("mp2")) {
        // Only the bit rates of the layer II table are allowed.
        return sampleRate > 0 && sampleRate < 32000 ? nearestIn(kMp2LowRateBitrates, bitrate)
                                                    : nearestIn(kMp2Bitrates, bitrate);
    }
    if (encoder == QLatin1String("wmav2") || encoder == QLatin1String("wmav1"))
        return std::max<qint64>(bitrate, 24000);
    if (encoder == QLatin1String("libvorbis") && channels <= 2) {
        for (const VorbisRange &r : kVorbisRanges) {
            if (r.sampleRate != sampleRate)
                continue;
            // An unknown channel count takes the range that suits both.
            const qint64 low = channels == 1 ? r.monoMin : r.stereoMin;
            const qint64 high = channels == 2 ? r.stereoMax : r.monoMax;
            return std::clamp(bitrate, low, high);
        }
    }
    return bitrate;
}

std::span<const H264Level> H264Levels()
{
    return CodecLevels::H264Numbered();
}

} // namespace EncoderFacts
