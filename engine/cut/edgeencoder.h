#pragma once

#include "avhandles.h"
#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <vector>

// Encodes frames of a source video stream anew so that they can stand in the same stream as
// copied packets: the same codec, profile, level, pixel format, size, aspect and colour
// description, interlaced where the source is (with its field order), no B-frames (so the new
// frames never wait for later ones), one key frame at the beginning. Source packets go in; the
// decoded frames shown in [fromPts, toPts) are encoded.
//
// Quality: the new frames stand beside the source's, so they are encoded for fidelity to the
// decoded source (PSNR, no psychovisual tuning): H.264 at x264's CRF 15, HEVC at x265's CRF 15
// (40 dB and more against the source on grainy pictures), MPEG-2 and MPEG-4 part 2 at
// quantiser 2, VP9 at libvpx's constant quality 10, AV1 at libaom's 12 or SVT-AV1's (one packet a
// frame shown); without lookahead, and above 720p on one encoding thread, to hold memory down. The
// rate is capped by the limits of a level: the source's, or, where the level may rise, the lowest
// one that gives four times the bit rate the source spends on the frames around the edge (what the
// quality needs on grainy pictures, whose source often exceeds its own level).
class EdgeEncoder
{
public:
    struct Options
    {
        bool globalHeader = false; // parameter sets in extradata() instead of in the stream
        int h264ParameterSetId = 0; // the id of the SPS and PPS x264 writes
        double sourceBitRate = 0; // bits a second the source spends around the edge
        bool levelMayRise = false; // the new frames may declare a higher level than the source
        // AV1: the source's sequence header, whose coding tools the new frames declare alike
        // where the encoder can
        QByteArray av1SequenceHeader;
    };

    // Opens the decoder and the encoder for the stream. NotPossible when this build cannot
    // decode or encode it as the copy needs.
    Outcome open(const AVStream *source, const Options &options);
    // The encoder's parameter sets (Annex B) when opened with globalHeader.
    QByteArray extradata() const;
    // The level the new frames are encoded for (the codec's level code), and whether the
    // quality needed a higher one than that.
    int level() const { return m_level; }
    bool levelLimited() const { return m_levelLimited; }

    void setRange(qint64 fromPts, qint64 toPts);
    // Decoding and encoding end with an error once this becomes true.
    void setCancel(const std::atomic<bool> *cancel) { m_cancel = cancel; }
    // Decodes the packet and encodes the frames in the range that come out of the decoder.
    // A frame in the range that the decoder reports damaged (or a packet it cannot read, or
    // a frame out of order) ends it with SourceDamaged: re-encoding would bake the damage in.
    // Stopped once the cancel flag is set; EncoderFailed when the encoder fails; NotPossible
    // when the picture size changes.
    Outcome feed(const AVPacket *packet);
    // Drains the decoder and the encoder; fails as feed() does.
    Outcome finish();
    // The encoded packets so far, in order, with pts and duration in the source's time base
    // and dts equal to pts; with keepLast, the last one stays for the next call.
    std::vector<AvPacketPtr> takePackets(bool keepLast = false);
    int framesEncoded() const { return m_encoded; }
    // Where the source is damaged (source time base); AV_NOPTS_VALUE when it is not.
    qint64 damagedAt() const { return m_damagedAt; }

    // True when this build can encode the stream's codec with its pixel format; else false
    // with what stands in the way, as a phrase for a sentence of the caller's.
    static bool canEncode(const AVCodecParameters *par, QString *reason);

    struct EncoderSetup; // what the encoder is told beyond its context's fields

private:
    Outcome openDecoder(const AVStream *source);
    Outcome openEncoder(const AVStream *source, const Options &options);
    // The codec's own settings, the level the new frames declare and the rate it allows.
    void setUpCodec(AVCodecContext *enc, const AVCodecParameters *par, const Options &options,
                    EncoderSetup &setup);
    Outcome encodeFrame(AVFrame *frame);
    Outcome receivePackets();
    // Stopped once the cancel flag is set.
    Outcome checkCancel() const;
    // Notes where the source is damaged.
    Error damaged(qint64 pts);

    AvCodecPtr m_decoder;
    AvCodecPtr m_encoder;
    AvFramePtr m_frame;
    AVRational m_timeBase { 1, 1 };
    qint64 m_from = 0;
    qint64 m_to = 0;
    qint64 m_defaultDuration = 0;
    std::vector<qint64> m_sourcePts; // the source time of each frame given to the encoder
    std::vector<AvPacketPtr> m_packets;
    int m_encoded = 0;
    qint64 m_lastPts = AV_NOPTS_VALUE;
    qint64 m_lastPacketPts = AV_NOPTS_VALUE; // of the last packet fed in
    qint64 m_damagedAt = AV_NOPTS_VALUE;
    int m_level = 0;
    bool m_levelLimited = false;
    int m_topFieldFirst = -1; // the field order given to each frame (-1: progressive)
    bool m_onlyP = false; // every frame after the first forced to be a P-frame
    bool m_svt = false; // AV1 by SVT-AV1 rather than libaom
    const std::atomic<bool> *m_cancel = nullptr;
};
