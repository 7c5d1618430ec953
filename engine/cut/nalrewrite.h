#pragma once

#include <QByteArray>
#include <QList>

// Rewrites the headers of NAL units that an edge encoder made, so that its frames can stand in
// one stream with copied ones: other parameter set ids (HEVC, and H.264 picture parameter sets),
// and for H.264 slices that follow the source's sequence parameter set, with the frame numbers
// and picture order counts that lead into a copied open-GOP key frame. The copied units are
// only read. Pure functions on single NAL units without start codes or length prefixes; they
// return an empty array when the unit cannot be read or rewritten.
namespace NalRewrite {

// The fields of an H.264 sequence parameter set that decide how slices are read and decoded.
struct H264Sps
{
    bool ok = false;
    int id = -1;
    int profile = 0;
    int level = 0;
    int chromaFormat = 1;
    bool separateColourPlane = false;
    int bitDepthLuma = 8;
    int bitDepthChroma = 8;
    bool transformBypass = false;
    bool scalingMatrix = false;
    int log2MaxFrameNum = 4;
    int pocType = 0;
    int log2MaxPocLsb = 4;
    bool deltaPicOrderAlwaysZero = false;
    int maxNumRefFrames = 0;
    bool gapsAllowed = false;
    int widthMbs = 0;
    int heightMapUnits = 0;
    bool frameMbsOnly = true;
    bool direct8x8Inference = true;
    bool cropping = false;
    int crop[4] = {}; // left, right, top, bottom
};
H264Sps parseH264Sps(const QByteArray &unit);

struct H264Pps
{
    bool ok = false;
    int id = -1;
    int spsId = -1;
    bool cabac = false;
    bool bottomFieldPicOrder = false;
    int sliceGroups = 1;
    bool weightedPred = false;
    int weightedBipred = 0;
    bool deblockingControl = false;
    bool redundantPicCount = false;
    int refIdxL0 = 1; // num_ref_idx_l0/l1_default_active
    int refIdxL1 = 1;
};
H264Pps parseH264Pps(const QByteArray &unit);

// The picture parameter set with other ids.
QByteArray renameH264Pps(const QByteArray &unit, int ppsId, int spsId);
// The sequence parameter set declaring another level.
QByteArray withH264Level(const QByteArray &sps, int level);

// The first fields of a slice header.
struct H264Slice
{
    bool ok = false;
    int ppsId = -1;
    int sliceType = -1;
    int frameNum = 0;
    int pocLsb = 0;
};
H264Slice readH264Slice(const QByteArray &unit, const QList<H264Sps> &spss,
                        const QList<H264Pps> &ppss);

// A slice header to its reference picture marking: memory_management_control_operation and
// its first value (difference_of_pic_nums_minus1, long_term_pic_num, ...), in order.
struct H264Marking
{
    bool ok = false;
    int refIdc = 0;
    int frameNum = 0;
    bool idr = false;
    QList<std::pair<int, int>> operations;
};
H264Marking readH264Marking(const QByteArray &unit, const QList<H264Sps> &spss,
                            const QList<H264Pps> &ppss);

// An I or P slice coded under encoderSps/encoderPps, as a non-IDR slice that refers to the
// picture parameter set ppsId (encoderPps under that id, on the sequence parameter set target)
// and carries the given frame number and picture order count (for target's count types 0
// and 2). Coded with target it decodes exactly as before, provided that the two sequence
// parameter sets agree on everything the slice data depends on (see spliceable()).
// unmark: short-term pictures the slice's picture marks unused (difference_of_pic_nums_minus1
// of each), for a reference picture.
QByteArray rewriteH264Slice(const QByteArray &unit, const H264Sps &encoderSps,
                            const H264Pps &encoderPps, const H264Sps &target, int ppsId,
                            int frameNum, int pocLsb, const QList<int> &unmark = {});
// True when frames an encoder codes under `encoder` decode the same under `target`.
bool spliceable(const H264Sps &encoder, const H264Sps &target);
// A supplemental enhancement information unit with a recovery point (every frame from this
// one on is shown exactly when decoding begins here).
QByteArray h264RecoveryPoint();

// HEVC: the parameter sets with other ids (each refers to the next with the given one), and
// slices that refer to another picture parameter set. A slice's new id must be coded in a
// multiple of eight bits more than its old one, so that its data stays byte-aligned:
// hevcSliceIdFor() gives such an id.
QByteArray renameHevcVps(const QByteArray &unit, int vpsId);
QByteArray renameHevcSps(const QByteArray &unit, int spsId, int vpsId);
QByteArray renameHevcPps(const QByteArray &unit, int ppsId, int spsId);
QByteArray renameHevcSlice(const QByteArray &unit, int ppsId);
int hevcPpsIdOfSlice(const QByteArray &unit);
int hevcParameterSetId(const QByteArray &unit); // of a VPS, SPS or PPS; -1 if unreadable
// The ids (0..63) a picture parameter set can be renamed to from `from`, in order.
QList<int> hevcSliceIdsFor(int from);
// The general_level_idc of an HEVC VPS or SPS, or -1.
int hevcLevel(const QByteArray &unit);
// An HEVCDecoderConfigurationRecord with more parameter sets in its arrays (new arrays
// complete), declaring at least the given level; the record as it was when it cannot be read.
QByteArray hevcConfigWith(const QByteArray &record, const QList<QByteArray> &units, int level);

} // namespace NalRewrite
