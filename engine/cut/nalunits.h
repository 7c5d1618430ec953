#pragma once

#include <QByteArray>
#include <QList>

// The parts of H.264 and HEVC bitstreams that a copy which mixes copied and re-encoded frames
// has to look at: NAL units in both framings (Annex B start codes, or the length prefixes of
// MP4 and Matroska), the decoder configuration records of the sample entries (avcC, hvcC) and
// the ids of the parameter sets. Pure functions on bytes.
namespace NalUnits {

// The NAL units of a packet or an Annex B record, without start codes or length prefixes.
// lengthSize 0 reads Annex B; 1, 2 or 4 reads length-prefixed units of that size. A unit that
// runs past the end is cut at the end.
QList<QByteArray> split(const QByteArray &data, int lengthSize);
// The units joined in the given framing (0: Annex B with four-byte start codes).
QByteArray join(const QList<QByteArray> &units, int lengthSize);

inline int h264Type(const QByteArray &unit)
{
    return unit.isEmpty() ? -1 : (uchar(unit.at(0)) & 0x1f);
}
inline int hevcType(const QByteArray &unit)
{
    return unit.isEmpty() ? -1 : ((uchar(unit.at(0)) >> 1) & 0x3f);
}

enum H264Type { H264Idr = 5, H264Sei = 6, H264Sps = 7, H264Pps = 8, H264Aud = 9 };
enum HevcType {
    HevcFirstIrap = 16,
    HevcLastIrap = 21,
    HevcVps = 32,
    HevcSps = 33,
    HevcPps = 34,
    HevcAud = 35,
    HevcEndOfSequence = 36
};

// The id a sequence or picture parameter set declares; -1 when it cannot be read.
int h264SpsId(const QByteArray &sps);
int h264PpsId(const QByteArray &pps);
// The recovery_frame_cnt of the recovery point message in an SEI unit (0: every frame shown
// from this picture on decodes exactly); -1 when the unit carries none or cannot be read.
int h264RecoveryFrameCount(const QByteArray &sei);

// An AVCDecoderConfigurationRecord, taken apart. The parsers of both records leave out units of
// length 0, which a decoder fed them in the stream rejects.
struct AvcConfig
{
    bool ok = false;
    QByteArray head; // version, profile, compatibility, level, length size byte
    QList<QByteArray> sps;
    QList<QByteArray> pps;
    QByteArray tail; // the High-profile extension, kept as it was
    int lengthSize = 4;
};
AvcConfig parseAvcConfig(const QByteArray &record);
QByteArray buildAvcConfig(const AvcConfig &config);

// An HEVCDecoderConfigurationRecord: its NAL unit length size and parameter sets.
struct HevcConfig
{
    bool ok = false;
    int lengthSize = 4;
    QList<QByteArray> units; // VPS, SPS, PPS (and SEI) in record order
};
HevcConfig parseHevcConfig(const QByteArray &record);
// The record with every array's completeness flag cleared: parameter sets may then also
// arrive in the stream, as the "hev1" sample entry allows. Empty units are left out.
QByteArray hevcConfigAllowingInBand(const QByteArray &record);

// True when the record is a configuration record rather than Annex B units.
inline bool isConfigRecord(const QByteArray &extradata)
{
    return extradata.size() >= 7 && extradata.at(0) == 1;
}

} // namespace NalUnits
