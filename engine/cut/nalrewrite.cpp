#include "nalrewrite.h"

#include "nalbits.h"

#include <vector>

namespace NalRewrite {

using NalBits::fromRbsp;
using NalBits::Reader;
using NalBits::stopBit;
using NalBits::toRbsp;
using NalBits::Writer;

namespace {

// A picture parameter set (of either codec) under other ids: its own and its sequence
// parameter set's, the two fields after its header; the rest is copied bit for bit.
QByteArray renamePps(const QByteArray &unit, int headerBytes, int ppsId, int spsId)
{
    const QByteArray rbsp = toRbsp(unit);
    const qsizetype stop = stopBit(rbsp);
    Reader r(rbsp, headerBytes);
    r.ue();
    r.ue();
    if (!r.ok() || stop < r.pos())
        return {};
    Writer w;
    for (int i = 0; i < headerBytes; ++i)
        w.bits(8, uchar(rbsp.at(i)));
    w.ue(unsigned(ppsId));
    w.ue(unsigned(spsId));
    w.copy(r, stop);
    w.trailing();
    return fromRbsp(w.data());
}

// pic_order_cnt_lsb and delta_pic_order_cnt of a slice header.
void skipPicOrderCount(Reader &r, const H264Sps &sps, const H264Pps &pps, bool field)
{
    if (sps.pocType == 0) {
        r.bits(sps.log2MaxPocLsb);
        if (pps.bottomFieldPicOrder && !field)
            r.se();
    } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
        r.se();
        if (pps.bottomFieldPicOrder && !field)
            r.se();
    }
}

// From direct_spatial_mv_pred_flag to the end of pred_weight_table() of a P, B or I slice.
void skipPredictionHeader(Reader &r, const H264Sps &sps, const H264Pps &pps, unsigned kind)
{
    int l0 = pps.refIdxL0;
    int l1 = pps.refIdxL1;
    if (kind == 1)
        r.bit(); // direct_spatial_mv_pred_flag
    if (kind != 2 && r.bit()) {
        l0 = int(r.ue()) + 1;
        if (kind == 1)
            l1 = int(r.ue()) + 1;
    }
    for (int list = 0; list < (kind == 1 ? 2 : kind == 0 ? 1 : 0); ++list) {
        if (r.bit()) {
            for (unsigned idc = 0; idc != 3 && r.ok();) {
                idc = r.ue();
                if (idc <= 2)
                    r.ue();
            }
        }
    }
    if (!((pps.weightedPred && kind == 0) || (pps.weightedBipred == 1 && kind == 1)))
        return;
    const bool chroma = sps.chromaFormat != 0 && !sps.separateColourPlane;
    r.ue();
    if (chroma)
        r.ue();
    for (int list = 0; list < (kind == 1 ? 2 : 1); ++list) {
        for (int i = 0; i < (list == 0 ? l0 : l1) && i < 32 && r.ok(); ++i) {
            if (r.bit()) {
                r.se();
                r.se();
            }
            if (chroma && r.bit()) {
                for (int j = 0; j < 4; ++j)
                    r.se();
            }
        }
    }
}

// dec_ref_pic_marking() of a reference slice: the operations of an adaptive marking.
void readMarkingOperations(Reader &r, H264Marking &m)
{
    if (m.idr) {
        r.bit();
        r.bit();
        return;
    }
    if (!r.bit())
        return;
    for (unsigned op = 1; op != 0 && r.ok() && m.operations.size() < 64;) {
        op = r.ue();
        int value = 0;
        if (op == 1 || op == 3)
            value = int(r.ue());
        if (op == 2)
            value = int(r.ue());
        if (op == 3 || op == 6)
            r.ue();
        if (op == 4)
            value = int(r.ue());
        if (op != 0)
            m.operations << std::pair { int(op), value };
    }
}

// num_ref_idx_override and ref_pic_list_modification() of a P slice, as they are.
void copyPReferenceLists(Reader &r, Writer &w)
{
    const unsigned override = r.bit();
    w.bit(override);
    if (override)
        w.ue(r.ue());
    const unsigned modification = r.bit();
    w.bit(modification);
    if (modification) {
        for (unsigned idc = 0; idc != 3 && r.ok();) {
            idc = r.ue();
            w.ue(idc);
            if (idc <= 2)
                w.ue(r.ue());
        }
    }
}

// dec_ref_pic_marking() of a reference slice of the head: the pictures in `unmark` marked
// unused (difference_of_pic_nums_minus1 each), or the encoder's own marking. False where the
// two would have to be combined, or the encoder's marking would break the numbering.
bool rewriteMarking(Reader &r, Writer &w, bool idr, const QList<int> &unmark)
{
    const auto writeUnmark = [&] {
        w.bit(1); // adaptive_ref_pic_marking_mode_flag
        for (const int d : unmark) {
            w.ue(1);
            w.ue(unsigned(d));
        }
        w.ue(0);
    };
    if (idr) {
        r.bit(); // no_output_of_prior_pics_flag
        if (r.bit()) // long_term_reference_flag
            return false;
        if (unmark.isEmpty())
            w.bit(0); // adaptive_ref_pic_marking_mode_flag: a sliding window
        else
            writeUnmark();
        return true;
    }
    const unsigned adaptive = r.bit();
    if (!unmark.isEmpty()) {
        if (adaptive)
            return false; // the encoder's own operations: not combined
        writeUnmark();
    } else {
        w.bit(adaptive);
    }
    if (!adaptive)
        return true;
    for (unsigned op = 1; op != 0 && r.ok();) {
        op = r.ue();
        w.ue(op);
        if (op == 1 || op == 3)
            w.ue(r.ue());
        if (op == 2)
            w.ue(r.ue());
        if (op == 3 || op == 6)
            w.ue(r.ue());
        if (op == 4)
            w.ue(r.ue());
        if (op == 5)
            return false; // would reset the numbering that leads into the copy
    }
    return true;
}

// The rest of the slice header as it is, then the slice data: from a byte boundary under
// CABAC, else bit for bit.
QByteArray finishSliceHeader(Reader &r, Writer &w, const H264Pps &pps, unsigned kind,
                             const QByteArray &rbsp)
{
    if (pps.cabac && kind != 2)
        w.ue(r.ue()); // cabac_init_idc
    w.se(r.se()); // slice_qp_delta
    if (pps.deblockingControl) {
        const unsigned disable = r.ue();
        w.ue(disable);
        if (disable != 1) {
            w.se(r.se());
            w.se(r.se());
        }
    }
    if (!r.ok())
        return {};
    if (pps.cabac) {
        // The slice data begins at a byte boundary after cabac_alignment_one_bits.
        while (!r.byteAligned())
            r.bit();
        while (!w.byteAligned())
            w.bit(1);
        QByteArray out = w.data();
        out.append(rbsp.mid(r.pos() / 8));
        return fromRbsp(out);
    }
    const qsizetype stop = stopBit(rbsp);
    if (stop < r.pos())
        return {};
    w.copy(r, stop);
    w.trailing();
    return fromRbsp(w.data());
}

int ueLength(unsigned v)
{
    int length = 0;
    while (((quint64(v) + 1) >> length) > 1)
        ++length;
    return 2 * length + 1;
}

void skipScalingList(Reader &r, int size)
{
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0) {
            next = (last + r.se() + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

bool hasChromaFields(int profile)
{
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

int h264Type(const QByteArray &unit)
{
    return unit.isEmpty() ? -1 : (uchar(unit.at(0)) & 0x1f);
}

int hevcType(const QByteArray &unit)
{
    return unit.size() < 2 ? -1 : ((uchar(unit.at(0)) >> 1) & 0x3f);
}

// profile_tier_level() of HEVC with its general part: its size in bits and where the
// general level is, from the reader's position.
bool skipHevcProfileTierLevel(Reader &r, int maxSubLayersMinus1, qsizetype *levelAt = nullptr)
{
    r.skip(88);
    if (levelAt)
        *levelAt = r.pos();
    r.skip(8);
    std::vector<int> profile(8, 0);
    std::vector<int> level(8, 0);
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profile[size_t(i)] = int(r.bit());
        level[size_t(i)] = int(r.bit());
    }
    if (maxSubLayersMinus1 > 0) {
        for (int i = maxSubLayersMinus1; i < 8; ++i)
            r.skip(2);
    }
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profile[size_t(i)])
            r.skip(88);
        if (level[size_t(i)])
            r.skip(8);
    }
    return r.ok();
}

} // namespace

H264Sps parseH264Sps(const QByteArray &unit)
{
    H264Sps s;
    if (h264Type(unit) != 7 || unit.size() < 5)
        return s;
    const QByteArray rbsp = toRbsp(unit);
    Reader r(rbsp, 1);
    s.profile = int(r.bits(8));
    r.skip(8);
    s.level = int(r.bits(8));
    s.id = int(r.ue());
    if (hasChromaFields(s.profile)) {
        s.chromaFormat = int(r.ue());
        if (s.chromaFormat == 3)
            s.separateColourPlane = r.bit();
        s.bitDepthLuma = 8 + int(r.ue());
        s.bitDepthChroma = 8 + int(r.ue());
        s.transformBypass = r.bit();
        if (r.bit()) {
            s.scalingMatrix = true;
            for (int i = 0; i < (s.chromaFormat != 3 ? 8 : 12) && r.ok(); ++i) {
                if (r.bit())
                    skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    s.log2MaxFrameNum = 4 + int(r.ue());
    s.pocType = int(r.ue());
    if (s.pocType == 0) {
        s.log2MaxPocLsb = 4 + int(r.ue());
    } else if (s.pocType == 1) {
        s.deltaPicOrderAlwaysZero = r.bit();
        r.se();
        r.se();
        const unsigned cycle = r.ue();
        for (unsigned i = 0; i < cycle && i < 256 && r.ok(); ++i)
            r.se();
    }
    s.maxNumRefFrames = int(r.ue());
    s.gapsAllowed = r.bit();
    s.widthMbs = int(r.ue()) + 1;
    s.heightMapUnits = int(r.ue()) + 1;
    s.frameMbsOnly = r.bit();
    if (!s.frameMbsOnly)
        r.bit();
    s.direct8x8Inference = r.bit();
    s.cropping = r.bit();
    if (s.cropping) {
        for (int &c : s.crop)
            c = int(r.ue());
    }
    s.ok
        = r.ok() && s.id < 32 && s.log2MaxFrameNum <= 16 && s.log2MaxPocLsb <= 16 && s.pocType <= 2;
    return s;
}

H264Pps parseH264Pps(const QByteArray &unit)
{
    H264Pps p;
    if (h264Type(unit) != 8 || unit.size() < 2)
        return p;
    const QByteArray rbsp = toRbsp(unit);
    Reader r(rbsp, 1);
    p.id = int(r.ue());
    p.spsId = int(r.ue());
    p.cabac = r.bit();
    p.bottomFieldPicOrder = r.bit();
    p.sliceGroups = int(r.ue()) + 1;
    if (p.sliceGroups > 1) {
        p.ok = false; // not written by the encoders used here; the rest is not read
        return p;
    }
    p.refIdxL0 = int(r.ue()) + 1;
    p.refIdxL1 = int(r.ue()) + 1;
    p.weightedPred = r.bit();
    p.weightedBipred = int(r.bits(2));
    r.se();
    r.se();
    r.se();
    p.deblockingControl = r.bit();
    r.bit();
    p.redundantPicCount = r.bit();
    p.ok = r.ok() && p.id < 256 && p.spsId < 32;
    return p;
}

QByteArray renameH264Pps(const QByteArray &unit, int ppsId, int spsId)
{
    if (h264Type(unit) != 8 || unit.size() < 2)
        return {};
    return renamePps(unit, 1, ppsId, spsId);
}

QByteArray withH264Level(const QByteArray &sps, int level)
{
    if (h264Type(sps) != 7 || sps.size() < 4)
        return {};
    QByteArray rbsp = toRbsp(sps);
    rbsp[3] = char(level);
    return fromRbsp(rbsp);
}

H264Slice readH264Slice(const QByteArray &unit, const QList<H264Sps> &spss,
                        const QList<H264Pps> &ppss)
{
    H264Slice s;
    const int type = h264Type(unit);
    if (type != 1 && type != 5)
        return s;
    const QByteArray rbsp = toRbsp(unit.left(64));
    Reader r(rbsp, 1);
    r.ue();
    s.sliceType = int(r.ue() % 5);
    s.ppsId = int(r.ue());
    const H264Pps *pps = nullptr;
    for (const H264Pps &p : ppss) {
        if (p.ok && p.id == s.ppsId)
            pps = &p;
    }
    const H264Sps *sps = nullptr;
    for (const H264Sps &q : spss) {
        if (pps && q.ok && q.id == pps->spsId)
            sps = &q;
    }
    if (!sps)
        return s;
    if (sps->separateColourPlane)
        r.skip(2);
    s.frameNum = int(r.bits(sps->log2MaxFrameNum));
    bool field = false;
    if (!sps->frameMbsOnly && r.bit()) {
        field = true;
        r.bit();
    }
    if (type == 5)
        r.ue();
    if (sps->pocType == 0)
        s.pocLsb = int(r.bits(sps->log2MaxPocLsb));
    s.ok = r.ok() && !field;
    return s;
}

H264Marking readH264Marking(const QByteArray &unit, const QList<H264Sps> &spss,
                            const QList<H264Pps> &ppss)
{
    H264Marking m;
    const int type = h264Type(unit);
    if (type != 1 && type != 5)
        return m;
    m.idr = type == 5;
    m.refIdc = (uchar(unit.at(0)) >> 5) & 3;
    const QByteArray rbsp = toRbsp(unit.left(512));
    Reader r(rbsp, 1);
    r.ue();
    const unsigned kind = r.ue() % 5;
    const int ppsId = int(r.ue());
    const H264Pps *pps = nullptr;
    for (const H264Pps &p : ppss) {
        if (p.ok && p.id == ppsId)
            pps = &p;
    }
    const H264Sps *sps = nullptr;
    for (const H264Sps &q : spss) {
        if (pps && q.ok && q.id == pps->spsId)
            sps = &q;
    }
    if (!sps || kind > 2)
        return m;
    if (sps->separateColourPlane)
        r.skip(2);
    m.frameNum = int(r.bits(sps->log2MaxFrameNum));
    bool field = false;
    if (!sps->frameMbsOnly && r.bit()) {
        field = true;
        r.bit();
    }
    if (m.idr)
        r.ue();
    skipPicOrderCount(r, *sps, *pps, field);
    if (pps->redundantPicCount)
        r.ue();
    skipPredictionHeader(r, *sps, *pps, kind);
    if (m.refIdc != 0)
        readMarkingOperations(r, m);
    m.ok = r.ok() && !field;
    return m;
}

bool spliceable(const H264Sps &encoder, const H264Sps &target)
{
    if (!encoder.ok || !target.ok)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (encoder.crop[i] != target.crop[i])
            return false;
    }
    return encoder.chromaFormat == target.chromaFormat && !encoder.separateColourPlane
        && !target.separateColourPlane && encoder.bitDepthLuma == target.bitDepthLuma
        && encoder.bitDepthChroma == target.bitDepthChroma && !encoder.transformBypass
        && !target.transformBypass && !encoder.scalingMatrix && !target.scalingMatrix
        && encoder.frameMbsOnly && target.frameMbsOnly && encoder.widthMbs == target.widthMbs
        && encoder.heightMapUnits == target.heightMapUnits && encoder.cropping == target.cropping
        && (target.pocType == 0 || target.pocType == 2)
        && target.maxNumRefFrames >= encoder.maxNumRefFrames && target.maxNumRefFrames > 0;
}

QByteArray rewriteH264Slice(const QByteArray &unit, const H264Sps &encoderSps,
                            const H264Pps &encoderPps, const H264Sps &target, int ppsId,
                            int frameNum, int pocLsb, const QList<int> &unmark)
{
    const int type = h264Type(unit);
    if ((type != 1 && type != 5) || !spliceable(encoderSps, target) || !encoderPps.ok
        || encoderPps.redundantPicCount)
        return {};
    const bool idr = type == 5;
    const int refIdc = (uchar(unit.at(0)) >> 5) & 3;
    const QByteArray rbsp = toRbsp(unit);
    Reader r(rbsp, 1);
    Writer w;
    w.bits(8, unsigned((refIdc << 5) | 1));
    w.ue(r.ue()); // first_mb_in_slice
    const unsigned sliceType = r.ue();
    const unsigned kind = sliceType % 5; // 0 P, 1 B, 2 I, 3 SP, 4 SI
    if (kind != 0 && kind != 2)
        return {};
    w.ue(sliceType);
    r.ue(); // the encoder's pps id
    w.ue(unsigned(ppsId));
    r.bits(encoderSps.log2MaxFrameNum);
    w.bits(target.log2MaxFrameNum, unsigned(frameNum) & ((1u << target.log2MaxFrameNum) - 1));
    if (idr)
        r.ue(); // idr_pic_id
    skipPicOrderCount(r, encoderSps, encoderPps, false);
    if (target.pocType == 0) {
        w.bits(target.log2MaxPocLsb, unsigned(pocLsb) & ((1u << target.log2MaxPocLsb) - 1));
        if (encoderPps.bottomFieldPicOrder)
            w.se(0);
    }
    if (kind == 0) {
        copyPReferenceLists(r, w);
        if (encoderPps.weightedPred)
            return {};
    }
    if (refIdc == 0 && !unmark.isEmpty())
        return {};
    if (refIdc != 0 && !rewriteMarking(r, w, idr, unmark))
        return {};
    return finishSliceHeader(r, w, encoderPps, kind, rbsp);
}

QByteArray h264RecoveryPoint()
{
    // sei_message: payload type 6, size 1; recovery_frame_cnt 0, exact_match_flag 1,
    // broken_link_flag 0, changing_slice_group_idc 0, payload alignment; rbsp_trailing_bits.
    return QByteArray("\x06\x06\x01\xc4\x80", 5);
}

QByteArray renameHevcVps(const QByteArray &unit, int vpsId)
{
    if (hevcType(unit) != 32 || unit.size() < 4 || vpsId < 0 || vpsId > 15)
        return {};
    QByteArray rbsp = toRbsp(unit);
    rbsp[2] = char((uchar(rbsp.at(2)) & 0x0f) | (vpsId << 4));
    return fromRbsp(rbsp);
}

QByteArray renameHevcSps(const QByteArray &unit, int spsId, int vpsId)
{
    if (hevcType(unit) != 33 || unit.size() < 4 || vpsId < 0 || vpsId > 15 || spsId < 0
        || spsId > 15)
        return {};
    const QByteArray rbsp = toRbsp(unit);
    const qsizetype stop = stopBit(rbsp);
    Reader r(rbsp, 2);
    r.bits(4);
    const int subLayers = int(r.bits(3));
    const unsigned nesting = r.bit();
    const qsizetype ptl = r.pos();
    if (!skipHevcProfileTierLevel(r, subLayers))
        return {};
    const qsizetype ptlEnd = r.pos();
    r.ue();
    if (!r.ok() || stop < r.pos())
        return {};
    const qsizetype rest = r.pos();
    Writer w;
    w.bits(8, uchar(rbsp.at(0)));
    w.bits(8, uchar(rbsp.at(1)));
    w.bits(4, unsigned(vpsId));
    w.bits(3, unsigned(subLayers));
    w.bit(nesting);
    Reader copy(rbsp);
    copy.skip(ptl);
    w.copy(copy, ptlEnd);
    w.ue(unsigned(spsId));
    Reader tail(rbsp);
    tail.skip(rest);
    w.copy(tail, stop);
    w.trailing();
    return fromRbsp(w.data());
}

QByteArray renameHevcPps(const QByteArray &unit, int ppsId, int spsId)
{
    if (hevcType(unit) != 34 || unit.size() < 3 || ppsId < 0 || ppsId > 63 || spsId < 0
        || spsId > 15)
        return {};
    return renamePps(unit, 2, ppsId, spsId);
}

int hevcPpsIdOfSlice(const QByteArray &unit)
{
    const int type = hevcType(unit);
    if (type < 0 || type > 31)
        return -1;
    const QByteArray rbsp = toRbsp(unit.left(16));
    Reader r(rbsp, 2);
    r.bit();
    if (type >= 16 && type <= 23)
        r.bit();
    const unsigned id = r.ue();
    return r.ok() && id < 64 ? int(id) : -1;
}

QByteArray renameHevcSlice(const QByteArray &unit, int ppsId)
{
    const int type = hevcType(unit);
    const int from = hevcPpsIdOfSlice(unit);
    if (from < 0 || ppsId < 0 || ppsId > 63
        || (ueLength(unsigned(ppsId)) - ueLength(unsigned(from))) % 8 != 0)
        return {};
    const QByteArray rbsp = toRbsp(unit);
    Reader r(rbsp, 2);
    Writer w;
    w.bits(8, uchar(rbsp.at(0)));
    w.bits(8, uchar(rbsp.at(1)));
    w.bit(r.bit());
    if (type >= 16 && type <= 23)
        w.bit(r.bit());
    r.ue();
    w.ue(unsigned(ppsId));
    // Everything after the id moves by whole bytes: the slice data stays byte-aligned.
    w.copy(r, r.size());
    return fromRbsp(w.data());
}

int hevcParameterSetId(const QByteArray &unit)
{
    const int type = hevcType(unit);
    const QByteArray rbsp = toRbsp(unit.left(64));
    Reader r(rbsp, 2);
    if (type == 32) {
        const unsigned id = r.bits(4);
        return r.ok() ? int(id) : -1;
    }
    if (type == 33) {
        r.bits(4);
        const int subLayers = int(r.bits(3));
        r.bit();
        if (!skipHevcProfileTierLevel(r, subLayers))
            return -1;
        const unsigned id = r.ue();
        return r.ok() && id < 16 ? int(id) : -1;
    }
    if (type == 34) {
        const unsigned id = r.ue();
        return r.ok() && id < 64 ? int(id) : -1;
    }
    return -1;
}

QList<int> hevcSliceIdsFor(int from)
{
    QList<int> ids;
    for (int id = 0; id < 64; ++id) {
        const int grow = ueLength(unsigned(id)) - ueLength(unsigned(from));
        if (grow > 0 && grow % 8 == 0)
            ids << id;
    }
    return ids;
}

int hevcLevel(const QByteArray &unit)
{
    const int type = hevcType(unit);
    const QByteArray rbsp = toRbsp(unit.left(64));
    Reader r(rbsp, 2);
    int subLayers = 0;
    if (type == 32) {
        r.skip(4 + 2 + 6);
        subLayers = int(r.bits(3));
        r.skip(1 + 16);
    } else if (type == 33) {
        r.skip(4);
        subLayers = int(r.bits(3));
        r.skip(1);
    } else {
        return -1;
    }
    qsizetype at = 0;
    if (!skipHevcProfileTierLevel(r, subLayers, &at))
        return -1;
    Reader level(rbsp);
    level.skip(at);
    const unsigned v = level.bits(8);
    return level.ok() ? int(v) : -1;
}

QByteArray hevcConfigWith(const QByteArray &record, const QList<QByteArray> &units, int level)
{
    if (record.size() < 23 || record.at(0) != 1)
        return record;
    struct Array
    {
        uchar header = 0; // completeness, reserved, type
        QList<QByteArray> units;
    };
    QList<Array> arrays;
    qsizetype at = 23;
    for (int a = 0; a < uchar(record.at(22)); ++a) {
        if (at + 3 > record.size())
            return record;
        Array array;
        array.header = uchar(record.at(at));
        const int count = (uchar(record.at(at + 1)) << 8) | uchar(record.at(at + 2));
        at += 3;
        for (int i = 0; i < count; ++i) {
            if (at + 2 > record.size())
                return record;
            const int n = (uchar(record.at(at)) << 8) | uchar(record.at(at + 1));
            if (at + 2 + n > record.size())
                return record;
            array.units << record.mid(at + 2, n);
            at += 2 + n;
        }
        arrays << array;
    }
    for (const QByteArray &u : units) {
        const int type = hevcType(u);
        bool placed = false;
        for (Array &array : arrays) {
            if ((array.header & 0x3f) == type) {
                array.units << u;
                placed = true;
                break;
            }
        }
        if (!placed)
            arrays << Array { uchar(0x80 | type), { u } };
    }
    QByteArray out = record.left(23);
    out[12] = char(std::max(int(uchar(out.at(12))), level));
    out[22] = char(arrays.size());
    for (const Array &array : std::as_const(arrays)) {
        out.append(char(array.header));
        out.append(char(array.units.size() >> 8));
        out.append(char(array.units.size() & 0xff));
        for (const QByteArray &u : array.units) {
            out.append(char(u.size() >> 8));
            out.append(char(u.size() & 0xff));
            out.append(u);
        }
    }
    return out;
}

} // namespace NalRewrite
