#include "edgesetup.h"

#include "nalunits.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>

namespace {

// A level code as people write it: H.264 "3.1", "1b"; HEVC "4", "5.1".
QString levelName(AVCodecID codec, int level)
{
    if (codec == AV_CODEC_ID_HEVC)
        return level % 30 == 0 ? QString::number(level / 30)
                               : QStringLiteral("%1.%2").arg(level / 30).arg(level % 30 / 3);
    if (level == 9)
        return QStringLiteral("1b");
    return level % 10 == 0 ? QString::number(level / 10)
                           : QStringLiteral("%1.%2").arg(level / 10).arg(level % 10);
}

int modulo(qint64 v, int bits)
{
    return int(((v % (1 << bits)) + (1 << bits)) % (1 << bits));
}

// The head's packet under the splice: numbered so that the copied key frame continues it,
// frame numbers up to the one before its own, picture order counts below its own.
QByteArray splicedPacket(const Splice &splice, bool configInStream, int index,
                         const QByteArray &data)
{
    const NalRewrite::H264Sps &target = splice.target;
    const int frameNum
        = modulo(qint64(splice.keyFrameNum) - splice.frames + index, target.log2MaxFrameNum);
    const int pocLsb = modulo(qint64(splice.keyPocLsb) - 2 * qint64(splice.frames - index),
                              target.log2MaxPocLsb);
    QList<QByteArray> units;
    if (index == 0) {
        if (configInStream)
            units << (splice.raisedUnit.isEmpty() ? splice.targetUnit : splice.raisedUnit)
                  << splice.pps;
        units << NalRewrite::h264RecoveryPoint();
    }
    for (const QByteArray &u : NalUnits::split(data, 0)) {
        const int type = NalUnits::h264Type(u);
        if (type != 1 && type != NalUnits::H264Idr)
            continue; // the encoder's own parameter sets and messages
        const QByteArray slice = NalRewrite::rewriteH264Slice(
            u, splice.encoderSps, splice.encoderPps, target, splice.ppsId, frameNum, pocLsb,
            index + 1 == splice.frames ? splice.unmark : QList<int>());
        if (slice.isEmpty())
            return {};
        units << slice;
    }
    return NalUnits::join(units, 0);
}

// An HEVC edge's packet under its renamed parameter sets.
QByteArray renamedHevcPacket(const EdgeSets &sets, bool configInStream, int index,
                             const QByteArray &data)
{
    QList<QByteArray> units;
    if (index == 0 && configInStream)
        units << sets.units;
    for (const QByteArray &u : NalUnits::split(data, 0)) {
        const int type = NalUnits::hevcType(u);
        if (type >= NalUnits::HevcVps && type <= NalUnits::HevcPps)
            continue;
        if (type >= 0 && type <= 31) {
            const QByteArray slice = NalRewrite::renameHevcSlice(u, sets.ppsId);
            if (slice.isEmpty())
                return {};
            units << slice;
        } else {
            units << u;
        }
    }
    return NalUnits::join(units, 0);
}

int firstFree(const QSet<int> &ids, const QList<int> &candidates)
{
    for (const int id : candidates) {
        if (!ids.contains(id))
            return id;
    }
    return -1;
}

} // namespace

QByteArray VideoEdges::outputPacket(AVCodecID codec, bool configInStream, bool isHead, int index,
                                    const QByteArray &data)
{
    if (codec == AV_CODEC_ID_AV1)
        return av1Packet(data);
    if (codec == AV_CODEC_ID_H264 && isHead && splice.active)
        return splicedPacket(splice, configInStream, index, data);
    if (codec == AV_CODEC_ID_HEVC)
        return renamedHevcPacket(isHead ? headSets : tailSets, configInStream, index, data);
    return data;
}

// A new AV1 frame whose sequence header a decoder reads as the source's carries the source's
// header instead: the output then holds one header throughout, as MP4 and Matroska ask of a
// stream. Otherwise the frame keeps its own and the fields that differ are kept for a note.
QByteArray VideoEdges::av1Packet(const QByteArray &data)
{
    const QByteArray header = Av1Obus::sequenceHeader(data);
    if (header.isEmpty() || av1Fields.isEmpty() || header == av1Header)
        return data;
    const QStringList differences
        = Av1Obus::differingFields(av1Fields, Av1Obus::sequenceHeaderFields(header));
    if (differences.isEmpty())
        return Av1Obus::replaceSequenceHeader(data, av1Header);
    if (av1Differences.isEmpty())
        av1Differences = differences;
    return data;
}

// The sequence header the copied AV1 frames are read with: the one the first copied key frame
// carries, else the decoder configuration's (some encoders declare fewer tools there than in
// the stream, and decoders follow the stream).
QByteArray EdgeSetup::av1SourceHeader() const
{
    const QByteArray inBand = m_scan.av1Headers.value(m_plan.copyFrom);
    return !inBand.isEmpty()
        ? inBand
        : Av1Obus::configSequenceHeader(ExtradataOf(m_source.reader.videoStream()->codecpar));
}

QList<int> EdgeSetup::usedParameterSetIds() const
{
    const QByteArray extra = ExtradataOf(m_source.reader.videoStream()->codecpar);
    QList<int> used(m_scan.inBandIds.begin(), m_scan.inBandIds.end());
    const NalUnits::AvcConfig config = NalUnits::parseAvcConfig(extra);
    for (const QByteArray &s : config.sps)
        used << NalUnits::h264SpsId(s);
    for (const QByteArray &p : config.pps)
        used << NalUnits::h264PpsId(p);
    for (const QByteArray &u : NalUnits::split(extra, 0))
        used << NalUnits::h264SpsId(u) << NalUnits::h264PpsId(u);
    for (const QByteArray &u : m_source.reservedSets)
        used << NalUnits::h264SpsId(u) << NalUnits::h264PpsId(u);
    return used;
}

double EdgeSetup::edgeBitRate(const CutPlan::Edge &edge) const
{
    // The packets the edge's decoder reads: from the key frame before it on.
    const QList<CutFrame> &frames = m_scan.frames;
    qint64 bytes = 0;
    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    for (int i = std::max(0, edge.decodeFrom); i <= edge.decodeTo && i < frames.size(); ++i) {
        if (i == m_scan.gapIndex)
            continue;
        bytes += frames.at(i).size;
        first = std::min(first, frames.at(i).pts);
        last = std::max(last, frames.at(i).pts);
    }
    const AVStream *st = m_source.reader.videoStream();
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    const double frame = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
    if (first > last)
        return 0;
    const double seconds = m_source.reader.toSeconds(last, m_source.video)
        - m_source.reader.toSeconds(first, m_source.video) + frame;
    return double(bytes) * 8 / std::max(seconds, frame);
}

Outcome EdgeSetup::openEdges(VideoEdges *edges, std::optional<EdgeEncoder> *tail, bool splice)
{
    const AVStream *st = m_source.reader.videoStream();
    const bool records = NalUnits::isConfigRecord(ExtradataOf(st->codecpar));
    const bool avc = m_source.codec == AV_CODEC_ID_H264;
    EdgeEncoder::Options options;
    QList<int> freeIds { 0, 0 };
    if (avc) {
        const QList<int> used = usedParameterSetIds();
        freeIds.clear();
        for (int id = 1; id < 32 && freeIds.size() < 2; ++id) {
            if (!used.contains(id))
                freeIds << id;
        }
        if (freeIds.size() < 2)
            return Error { ErrorCode::NotPossible,
                           QStringLiteral("The video uses every parameter set id.") };
        options.globalHeader = records;
    }
    // HEVC edges' parameter sets are renamed before they go into the output.
    if (m_source.codec == AV_CODEC_ID_HEVC)
        options.globalHeader = true;
    // New frames declare their level in their own parameter sets; a head that follows the
    // source's declares it in the source's, wherever the output carries them.
    options.levelMayRise = true;
    if (m_source.codec == AV_CODEC_ID_AV1)
        options.av1SequenceHeader = av1SourceHeader();
    auto open
        = [&](std::optional<EdgeEncoder> &edge, const CutPlan::Edge &range, int id, bool isHead) {
              if (!range.active())
                  return Outcome();
              edge.emplace();
              EdgeEncoder::Options o = options;
              o.h264ParameterSetId = id;
              o.sourceBitRate = edgeBitRate(range);
              if (isHead && splice)
                  o.globalHeader = true;
              if (!isHead)
                  edges->tailOptions = o;
              if (Outcome opened = edge->open(st, o); !opened)
                  return opened;
              edge->setRange(range.fromPts, range.toPts);
              edge->setCancel(&m_cancel);
              return Outcome();
          };
    if (Outcome head = open(edges->head, m_plan.head, freeIds.at(0), true); !head)
        return head;
    return open(*tail, m_plan.tail, freeIds.at(1), false);
}

Result<EdgeSetup::State> EdgeSetup::setUp(VideoEdges *edges, CutWriter::VideoOverride *video)
{
    video->inputIndex = m_source.video;
    *edges = VideoEdges();
    if (m_source.codec == AV_CODEC_ID_AV1) {
        edges->av1Header = av1SourceHeader();
        edges->av1Fields = Av1Obus::sequenceHeaderFields(edges->av1Header);
    }
    if (!m_source.exact || (!m_plan.head.active() && !m_plan.tail.active()))
        return State::Ready;
    const AVCodecID codec = m_source.codec;
    // A copy that begins on an H.264 open-GOP key frame: the head leads into it.
    const bool splice = codec == AV_CODEC_ID_H264 && m_plan.head.active()
        && m_scan.recoverySlices.contains(m_plan.copyFrom);
    std::optional<EdgeEncoder> tail;
    if (Outcome opened = openEdges(edges, &tail, splice); !opened)
        return opened.error();
    if (splice && !setUpSplice(*edges->head, &edges->splice)) {
        edges->head.reset();
        return State::SpliceRefused;
    }
    if (codec == AV_CODEC_ID_HEVC
        && ((edges->head && !setUpHevcSets(*edges->head, &edges->headSets, nullptr))
            || (tail
                && !setUpHevcSets(*tail, &edges->tailSets,
                                  edges->head ? &edges->headSets : nullptr))))
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The parameter sets of the re-encoded frames cannot be "
                                      "written.") };
    const int level = noteLevel(*edges, tail);
    const int copyFrom = m_plan.copyFrom;
    if (copyFrom >= 0 && m_scan.dts.at(copyFrom) != AV_NOPTS_VALUE)
        edges->delay
            = std::max<qint64>(0, m_scan.frames.at(copyFrom).pts - m_scan.dts.at(copyFrom));
    edges->headDone = !edges->head;
    edges->tailDone = !m_plan.tail.active();
    Splice &s = edges->splice;
    if (s.active && edges->head->level() > s.target.level)
        s.raisedUnit = NalRewrite::withH264Level(s.targetUnit, edges->head->level());
    edges->raising = !s.raisedUnit.isEmpty();
    const QByteArray extra = ExtradataOf(m_source.reader.videoStream()->codecpar);
    if (NalUnits::isConfigRecord(extra)) {
        if (codec == AV_CODEC_ID_H264)
            video->extradata = avcConfig(*edges, tail, level);
        else if (codec == AV_CODEC_ID_HEVC)
            // Every parameter set in the decoder configuration, as "hvc1" wants it; the
            // sample entry stays the source's.
            video->extradata = NalRewrite::hevcConfigWith(
                extra, edges->headSets.units + edges->tailSets.units, level);
    }
    if (tail)
        edges->tailExtradata = tail->extradata();
    return State::Ready;
}

// The level the new frames need (and a note where it is more than the source declares, or
// where it holds the new frames below the source's rate).
int EdgeSetup::noteLevel(const VideoEdges &edges, const std::optional<EdgeEncoder> &tail)
{
    const AVCodecID codec = m_source.codec;
    const int declared = m_source.reader.videoStream()->codecpar->level;
    int level = declared;
    bool limited = false;
    for (const std::optional<EdgeEncoder> *edge : { &edges.head, &tail }) {
        if (*edge) {
            level = std::max(level, (*edge)->level());
            limited = limited || (*edge)->levelLimited();
        }
    }
    if (level > declared)
        m_notes << CopyNote { CopyNote::Kind::LevelHeld,
                              QStringLiteral("The re-encoded frames need more bits than level %1 "
                                             "allows: the video now declares level %2.")
                                  .arg(levelName(codec, declared), levelName(codec, level)) };
    if (limited)
        m_notes << CopyNote { CopyNote::Kind::LevelHeld,
                              QStringLiteral("The re-encoded frames are held to the bit rate of "
                                             "level %1, below what the source spends there: they "
                                             "may look softer than the copied frames.")
                                  .arg(levelName(codec, level)) };
    return level;
}

// One configuration for all: the source's parameter sets and the new frames'.
QByteArray EdgeSetup::avcConfig(const VideoEdges &edges, const std::optional<EdgeEncoder> &tail,
                                int level) const
{
    NalUnits::AvcConfig avc
        = NalUnits::parseAvcConfig(ExtradataOf(m_source.reader.videoStream()->codecpar));
    const Splice &splice = edges.splice;
    for (const std::optional<EdgeEncoder> *edge : { &edges.head, &tail }) {
        if (!*edge || (edge == &edges.head && splice.active))
            continue;
        for (const QByteArray &u : NalUnits::split((*edge)->extradata(), 0)) {
            if (NalUnits::h264Type(u) == NalUnits::H264Sps)
                avc.sps << u;
            else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
                avc.pps << u;
        }
    }
    if (splice.active) {
        avc.pps << splice.pps;
        for (QByteArray &u : avc.sps) {
            if (u == splice.targetUnit && !splice.raisedUnit.isEmpty())
                u = splice.raisedUnit;
        }
    }
    if (avc.head.size() >= 4)
        avc.head[3] = char(std::max(int(uchar(avc.head.at(3))), level));
    return NalUnits::buildAvcConfig(avc);
}

bool EdgeSetup::setUpSplice(const EdgeEncoder &head, Splice *splice) const
{
    QList<NalRewrite::H264Sps> spss;
    QList<NalRewrite::H264Pps> ppss;
    QHash<int, QByteArray> spsUnits;
    for (const QByteArray &u : m_source.parameterSets() + m_scan.inBandSets) {
        if (NalUnits::h264Type(u) == NalUnits::H264Sps) {
            const NalRewrite::H264Sps sps = NalRewrite::parseH264Sps(u);
            if (sps.ok) {
                spss << sps;
                spsUnits.insert(sps.id, u);
            }
        } else if (NalUnits::h264Type(u) == NalUnits::H264Pps) {
            ppss << NalRewrite::parseH264Pps(u);
        }
    }
    const NalRewrite::H264Slice key
        = NalRewrite::readH264Slice(m_scan.recoverySlices.value(m_plan.copyFrom), spss, ppss);
    if (!key.ok)
        return false;
    int spsId = -1;
    for (const NalRewrite::H264Pps &pps : std::as_const(ppss)) {
        if (pps.ok && pps.id == key.ppsId)
            spsId = pps.spsId;
    }
    for (const NalRewrite::H264Sps &sps : std::as_const(spss)) {
        if (sps.id == spsId)
            splice->target = sps;
    }
    QByteArray encoderPps;
    for (const QByteArray &u : NalUnits::split(head.extradata(), 0)) {
        if (NalUnits::h264Type(u) == NalUnits::H264Sps)
            splice->encoderSps = NalRewrite::parseH264Sps(u);
        else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
            encoderPps = u;
    }
    splice->encoderPps = NalRewrite::parseH264Pps(encoderPps);
    if (!NalRewrite::spliceable(splice->encoderSps, splice->target) || !splice->encoderPps.ok
        || splice->encoderPps.weightedPred)
        return false;
    // The encoder's PPS id is one the source does not use.
    splice->ppsId = splice->encoderPps.id;
    splice->pps = NalRewrite::renameH264Pps(encoderPps, splice->ppsId, splice->target.id);
    splice->targetUnit = spsUnits.value(splice->target.id);
    splice->keyFrameNum = key.frameNum;
    splice->keyPocLsb = key.pocLsb;
    splice->frames = m_plan.head.frames;
    if (!spliceReferences(key, spss, ppss, splice))
        return false;
    splice->active = !splice->pps.isEmpty() && !splice->targetUnit.isEmpty();
    return splice->active;
}

// The earlier pictures the copied frames mark unused must be there, as references, when the
// copy begins: the head's last frame leaves exactly those (and itself) in the decoded picture
// buffer. Leading pictures that are references cannot be left out.
bool EdgeSetup::spliceReferences(const NalRewrite::H264Slice &key,
                                 const QList<NalRewrite::H264Sps> &spss,
                                 const QList<NalRewrite::H264Pps> &ppss, Splice *splice) const
{
    const int maxFrameNum = 1 << splice->target.log2MaxFrameNum;
    const int window = std::min(splice->frames, splice->target.maxNumRefFrames + 1);
    QSet<int> expected { 1 }; // by distance in frame numbers before the key frame
    for (const auto &[index, slice] : m_scan.recoveryFollowers.value(m_plan.copyFrom)) {
        const NalRewrite::H264Marking marking = NalRewrite::readH264Marking(slice, spss, ppss);
        if (!marking.ok || marking.idr)
            return false;
        if (marking.refIdc != 0
            && std::binary_search(m_plan.skipped.begin(), m_plan.skipped.end(), index))
            return false;
        const int picNum
            = key.frameNum + (marking.frameNum - key.frameNum + maxFrameNum) % maxFrameNum;
        for (const auto &[op, value] : marking.operations) {
            if (op == 5)
                break;
            if (op != 1)
                return false; // long-term references: not followed
            const int target = picNum - (value + 1);
            if (target < key.frameNum)
                expected << key.frameNum - target;
        }
    }
    if (int(expected.size()) >= splice->target.maxNumRefFrames)
        return false;
    for (const int distance : std::as_const(expected)) {
        if (distance > window)
            return false;
    }
    splice->unmark.clear();
    for (int distance = 2; distance <= window; ++distance) {
        if (!expected.contains(distance))
            splice->unmark << distance - 2;
    }
    return true;
}

bool EdgeSetup::setUpHevcSets(const EdgeEncoder &edge, EdgeSets *sets, const EdgeSets *other) const
{
    // Ids the source (and the other edge) use.
    QSet<int> used[3];
    QList<QByteArray> taken = m_source.parameterSets() + m_scan.inBandSets + m_source.reservedSets;
    if (other)
        taken += other->units;
    for (const QByteArray &u : std::as_const(taken)) {
        const int type = NalUnits::hevcType(u);
        if (type >= NalUnits::HevcVps && type <= NalUnits::HevcPps)
            used[type - NalUnits::HevcVps] << NalRewrite::hevcParameterSetId(u);
    }
    QByteArray units[3]; // VPS, SPS, PPS
    for (const QByteArray &u : NalUnits::split(edge.extradata(), 0)) {
        const int type = NalUnits::hevcType(u);
        if (type >= NalUnits::HevcVps && type <= NalUnits::HevcPps)
            units[type - NalUnits::HevcVps] = u;
    }
    const QByteArray &vps = units[0], &sps = units[1], &pps = units[2];
    QList<int> small;
    for (int id = 0; id < 16; ++id)
        small << id;
    const int vpsId = firstFree(used[0], small);
    const int spsId = firstFree(used[1], small);
    const int ppsId
        = firstFree(used[2], NalRewrite::hevcSliceIdsFor(NalRewrite::hevcParameterSetId(pps)));
    if (vps.isEmpty() || sps.isEmpty() || pps.isEmpty() || vpsId < 0 || spsId < 0 || ppsId < 0)
        return false;
    sets->units
        = { NalRewrite::renameHevcVps(vps, vpsId), NalRewrite::renameHevcSps(sps, spsId, vpsId),
            NalRewrite::renameHevcPps(pps, ppsId, spsId) };
    sets->ppsId = ppsId;
    return std::none_of(sets->units.begin(), sets->units.end(),
                        [](const QByteArray &u) { return u.isEmpty(); });
}
