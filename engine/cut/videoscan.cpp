#include "videoscan.h"

#include "av1obus.h"
#include "nalunits.h"

#include <algorithm>
#include <limits>

namespace {

// A range whose middle is this long is read in two windows (its start and its end) before the
// copy; the middle is only read by the copy.
constexpr double kMiddleSeconds = 30.0;
// Video packets read after the first one shown after the copy's first key frame, before the
// first window ends.
constexpr int kWindowSlack = 8;
// How far past the start a prediction of where the copy starts looks for a key frame.
constexpr double kPredictSeconds = 30.0;

} // namespace

qint64 ScanResult::latestPts(qint64 floor) const
{
    qint64 latest = floor;
    for (const CutFrame &f : frames)
        latest = std::max(latest, f.pts);
    return latest;
}

struct VideoScan::Pass
{
    bool startOnly = false;
    int following = -1; // the key frame whose followers are being kept
    qint64 endKey = kNeverTs;
    qint64 copyKey = kNeverTs; // the first packet in the range a copy can begin on
    qint64 latest = std::numeric_limits<qint64>::min();
    int afterKey = 0;
    bool middleTried = false;
    bool toRandomAccess = false; // in the end window, before its first random access point
    qint64 firstPos = -1;
    qint64 lastPos = -1;
    qint64 lookLimit = kNeverTs;
    int lengthSize = 0;
};

Outcome VideoScan::run(bool skipMiddle, bool startOnly, const Settings &settings)
{
    m_settings = &settings;
    for (;;) {
        m_result = ScanResult();
        if (!m_source.reader.rewind())
            return Error { ErrorCode::SourceDamaged,
                           QStringLiteral("The source cannot be read at the start of the range.") };
        Pass pass;
        pass.startOnly = startOnly;
        pass.middleTried = !startOnly && (!skipMiddle || m_source.endTs == kNeverTs);
        if (startOnly)
            pass.lookLimit = m_source.reader.toStreamTime(m_source.startSeconds + kPredictSeconds,
                                                          m_source.video);
        const QByteArray extra = ExtradataOf(m_source.reader.videoStream()->codecpar);
        if (NalUnits::isConfigRecord(extra))
            pass.lengthSize = m_source.codec == AV_CODEC_ID_HEVC
                ? NalUnits::parseHevcConfig(extra).lengthSize
                : NalUnits::parseAvcConfig(extra).lengthSize;
        const Result<bool> planned = read(pass);
        if (!planned)
            return planned.error();
        if (planned.value() && closeGap(pass))
            return {};
        // The end cannot be found apart from the start: the range is read whole.
        skipMiddle = false;
        startOnly = false;
    }
}

Result<bool> VideoScan::read(Pass &pass)
{
    AvPacketPtr packet = MakePacket();
    while (m_source.reader.read(packet.get())) {
        if (Outcome going = NotStopped(m_cancel); !going)
            return going.error();
        m_result.bytes += packet->size;
        if (packet->pos >= 0) {
            if (pass.firstPos < 0)
                pass.firstPos = packet->pos;
            pass.lastPos = packet->pos + packet->size;
        }
        const Result<Step> step = take(pass, packet.get());
        av_packet_unref(packet.get());
        if (!step)
            return step.error();
        if (step.value() == Step::Stop)
            break;
        if (step.value() == Step::Restart)
            return false;
    }
    if (m_source.reader.readFailed())
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The source could not be read to the end of the range.") };
    return true;
}

Result<VideoScan::Step> VideoScan::take(Pass &pass, AVPacket *packet)
{
    const bool video = packet->stream_index == m_source.video;
    if (!video || (pass.toRandomAccess && !m_source.reader.isRandomAccess(packet)))
        return Step::Read;
    pass.toRandomAccess = false;
    const qint64 t = SourceReader::packetTime(packet);
    if (!m_source.inOrder(t, &pass.latest))
        return Step::Read;
    if ((pass.endKey != kNeverTs && t > pass.endKey) || (t != AV_NOPTS_VALUE && t > pass.lookLimit))
        return Step::Stop;
    CutFrame f;
    f.pts = t;
    f.size = packet->size;
    f.clean = m_source.reader.isCleanStart(packet);
    f.key = f.clean || m_source.reader.isRandomAccess(packet);
    const int index = int(m_result.frames.size());
    if (pass.following >= 0 && f.key)
        pass.following = -1;
    if (pass.following >= 0)
        keepFollower(pass, packet, index);
    if (f.key && (m_source.codec == AV_CODEC_ID_H264 || m_source.codec == AV_CODEC_ID_HEVC))
        readUnits(pass, packet, &f, index, t);
    if (f.clean && m_source.codec == AV_CODEC_ID_AV1) {
        const QByteArray header = Av1Obus::sequenceHeader(PacketBytes(packet));
        if (!header.isEmpty())
            m_result.av1Headers.insert(index, header);
    }
    if (t == AV_NOPTS_VALUE)
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("The video has packets without timestamps.") };
    m_result.frames << f;
    m_result.dts << packet->dts;
    if (f.startsDecoding() && t >= m_source.endTs && pass.endKey == kNeverTs)
        pass.endKey = t;
    if (m_source.endTs != kNeverTs && !m_settings->quiet)
        m_progress.report(0.1 * double(t - m_source.startTs)
                          / double(std::max<qint64>(1, m_source.endTs - m_source.startTs)));
    if (pass.middleTried)
        return Step::Read;
    return advanceWindow(pass, f, t);
}

void VideoScan::keepFollower(Pass &pass, const AVPacket *packet, int index)
{
    QList<std::pair<int, QByteArray>> &list = m_result.recoveryFollowers[pass.following];
    for (const QByteArray &u : NalUnits::split(PacketBytes(packet), pass.lengthSize)) {
        if (NalUnits::h264Type(u) == 1) {
            list << std::pair { index, u.left(512) };
            break;
        }
    }
    if (list.size() >= 32)
        pass.following = -1;
}

// The parameter sets a key frame carries, and whether it is an open-GOP key frame a copy may
// begin on (the start of its first slice tells its numbering).
void VideoScan::readUnits(Pass &pass, const AVPacket *packet, CutFrame *frame, int index, qint64 t)
{
    const bool avc = m_source.codec == AV_CODEC_ID_H264;
    bool slice = false;
    for (const QByteArray &u : NalUnits::split(PacketBytes(packet), pass.lengthSize)) {
        const int type = avc ? NalUnits::h264Type(u) : NalUnits::hevcType(u);
        const bool set = avc ? type == NalUnits::H264Sps || type == NalUnits::H264Pps
                             : type >= NalUnits::HevcVps && type <= NalUnits::HevcPps;
        if (set && !m_result.inBandSets.contains(u))
            m_result.inBandSets << u;
        if (type == NalUnits::H264Sps && avc)
            m_result.inBandIds << NalUnits::h264SpsId(u);
        else if (type == NalUnits::H264Pps && avc)
            m_result.inBandIds << NalUnits::h264PpsId(u);
        if (avc && type == 1 && !frame->clean && !slice && m_settings->spliceRecovery
            && !m_settings->refusedKeys.contains(t)) {
            m_result.recoverySlices.insert(index, u.left(64));
            pass.following = index;
            frame->clean = true;
        }
        slice = slice || type == 1 || type == NalUnits::H264Idr;
    }
}

VideoScan::Step VideoScan::advanceWindow(Pass &pass, const CutFrame &frame, qint64 t)
{
    if (pass.copyKey == kNeverTs) {
        if ((m_source.exact ? frame.clean : frame.startsDecoding()) && t >= m_source.startTs)
            pass.copyKey = t;
        return Step::Read;
    }
    // The start window is complete a few packets after the first one shown after the copy's
    // key frame: its leading pictures have gone by.
    if (t > pass.copyKey)
        ++pass.afterKey;
    if (pass.afterKey < kWindowSlack)
        return Step::Read;
    pass.middleTried = true;
    if (pass.startOnly)
        return Step::Stop;
    const double reached = m_source.reader.toSeconds(pass.latest, m_source.video);
    if (m_source.endSeconds - reached < kMiddleSeconds)
        return Step::Read; // a short range: read on
    if (!m_source.reader.seekBetween(reached + 1.0, m_source.endSeconds))
        return Step::Restart;
    m_result.frames << CutFrame {}; // its time is set once both windows are known
    m_result.dts << AV_NOPTS_VALUE;
    m_result.gapIndex = int(m_result.frames.size()) - 1;
    pass.toRandomAccess = true;
    return Step::Read;
}

bool VideoScan::closeGap(const Pass &pass)
{
    const int gap = m_result.gapIndex;
    if (gap < 0)
        return true;
    qint64 before = std::numeric_limits<qint64>::min();
    qint64 after = std::numeric_limits<qint64>::max();
    for (int i = 0; i < m_result.frames.size(); ++i) {
        if (i < gap)
            before = std::max(before, m_result.frames.at(i).pts);
        else if (i > gap)
            after = std::min(after, m_result.frames.at(i).pts);
    }
    if (after == std::numeric_limits<qint64>::max() || after - before < 2)
        return false;
    m_result.frames[gap].pts = after - 1;
    // The bytes between the windows count for the progress too.
    if (pass.firstPos >= 0 && pass.lastPos > pass.firstPos)
        m_result.bytes = std::max(m_result.bytes, pass.lastPos - pass.firstPos);
    return true;
}
