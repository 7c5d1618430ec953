#include "streamcopy.h"

#include "avhandles.h"
#include "cutplanner.h"
#include "cutwriter.h"
#include "edgeencoder.h"
#include "nalunits.h"
#include "sourcereader.h"
#include "timecode.h"

#include <QElapsedTimer>
#include <QSet>

#include <cmath>
#include <deque>
#include <limits>
#include <optional>

namespace {

// Packets of the other streams are read this far past the end: a muxer may store them a
// little after the video of the same time.
constexpr double kTrailSeconds = 2.0;
constexpr qint64 kNever = std::numeric_limits<qint64>::max();
// How far before the end of the range the source may end without the copy failing: the last
// frame of a file often ends a little before the duration its container declares.
constexpr double kShortfallSeconds = 1.0;
// A range whose middle is this long is read in two windows (its start and its end) before the
// copy; the middle is only read by the copy.
constexpr double kMiddleSeconds = 30.0;
// Video packets read after the first one shown after the copy's first key frame, before the
// first window ends.
constexpr int kWindowSlack = 8;
// A head this long is worth a note: the source's key frames are far apart or not IDRs.
constexpr double kLongHeadSeconds = 10.0;
// Marks beyond this (about three years) are no media time; they are held here so that no
// timestamp arithmetic can overflow.
constexpr double kMaxSeconds = 1e8;

QByteArray bytesOf(const AVPacket *p)
{
    return QByteArray(reinterpret_cast<const char *>(p->data), p->size);
}

QByteArray extradataOf(const AVCodecParameters *par)
{
    return QByteArray(reinterpret_cast<const char *>(par->extradata), par->extradata_size);
}

bool replaceData(AVPacket *p, const QByteArray &data)
{
    AVBufferRef *buffer = av_buffer_alloc(size_t(data.size()) + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!buffer)
        return false;
    memcpy(buffer->data, data.constData(), size_t(data.size()));
    memset(buffer->data + data.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_buffer_unref(&p->buf);
    p->buf = buffer;
    p->data = buffer->data;
    p->size = int(data.size());
    return true;
}

// Why this source cannot be cut exactly; "" when it can.
QString exactObstacle(const SourceReader &reader)
{
    const AVStream *video = reader.videoStream();
    if (!video)
        return QString();
    const AVCodecParameters *par = video->codecpar;
    const QString container = QString::fromLatin1(reader.context()->iformat->name);
    const QString family = container.section(QLatin1Char(','), 0, 0);
    if (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC
        && par->codec_id != AV_CODEC_ID_MPEG2VIDEO)
        return QStringLiteral("the video is %1; exact cuts need H.264, HEVC or MPEG-2 video")
            .arg(QString::fromLatin1(avcodec_get_name(par->codec_id)).toUpper());
    if (family != QLatin1String("mov") && family != QLatin1String("matroska")
        && family != QLatin1String("mpegts") && family != QLatin1String("mpeg"))
        return QStringLiteral("exact cuts need an MP4, MOV, Matroska, WebM, MPEG-TS or MPEG-PS "
                              "file");
    QString reason;
    if (!EdgeEncoder::canEncode(par, &reason))
        return reason;
    const QByteArray extra = extradataOf(par);
    if ((par->codec_id == AV_CODEC_ID_H264 && NalUnits::isConfigRecord(extra)
         && !NalUnits::parseAvcConfig(extra).ok)
        || (par->codec_id == AV_CODEC_ID_HEVC && NalUnits::isConfigRecord(extra)
            && !NalUnits::parseHevcConfig(extra).ok))
        return QStringLiteral("the video's decoder configuration cannot be read");
    if ((family == QLatin1String("mov") || family == QLatin1String("matroska"))
        && (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC)
        && !NalUnits::isConfigRecord(extra))
        return QStringLiteral("the video has no decoder configuration");
    return QString();
}

// One run of a copy: the source, the plan, the edge encoders and the output.
class CopyRun
{
public:
    CopyRun(const StreamCopyJob &job, const std::atomic<bool> &cancel,
            const StreamCopy::Progress &progress, QStringList &notes)
        : m_job(job)
        , m_cancel(cancel)
        , m_progress(progress)
        , m_notes(notes)
    {
    }

    bool run(QString *error);

private:
    bool cancelled(QString *error) const
    {
        if (!m_cancel.load())
            return false;
        *error = QStringLiteral("The copy was stopped.");
        return true;
    }
    void report(double fraction, bool force = false);
    bool scan(bool skipMiddle, QString *error);
    bool planVideo(QString *error);
    // Takes a copied video packet: held until the head is written, then written.
    bool copyVideo(const AVPacket *packet, bool first, QString *error);
    QList<int> usedParameterSetIds() const;
    bool setUpVideo(CutWriter::VideoOverride *video, QString *error);
    bool copyPackets(QString *error);
    bool handleVideo(AVPacket *packet, QString *error);
    bool handleOther(AVPacket *packet, QString *error);
    // Writes what the edge has encoded so far; at the end (final) drains it first.
    bool writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy, QString *error);
    bool edgeFailed(const EdgeEncoder &encoder, QString *error) const;
    bool writeVideo(AVPacket *packet, QString *error);
    bool writeWaiting(QString *error);
    QList<QByteArray> sourceParameterSets() const;
    bool needsParameterSets(const AVPacket *packet) const;
    QByteArray toOutputFraming(const QByteArray &annexB) const;

    const StreamCopyJob &m_job;
    const std::atomic<bool> &m_cancel;
    const StreamCopy::Progress &m_progress;
    QStringList &m_notes;

    SourceReader m_reader;
    CutWriter m_writer;
    CutPlan m_plan;
    bool m_exact = false;
    int m_video = -1;
    AVCodecID m_codec = AV_CODEC_ID_NONE;
    qint64 m_startTs = 0; // the marks in the video's time base
    qint64 m_endTs = kNever;
    double m_endSeconds = 1e300;
    double m_audioFrom = 0; // seconds: audio frames whose middle is in [from, to) are kept
    QList<CutFrame> m_frames;
    int m_gapIndex = -1; // stands for the packets between the two windows of a long range
    QList<qint64> m_dts;
    QSet<int> m_inBandIds;
    qint64 m_scanBytes = 0;

    std::optional<EdgeEncoder> m_head;
    std::optional<EdgeEncoder> m_tail;
    bool m_headDone = true;
    bool m_tailDone = true;
    std::deque<AvPacketPtr> m_waiting; // copied packets held until the head is written
    bool m_firstCopy = true;
    qint64 m_delay = 0; // the source's decoding delay at the copy start
    qint64 m_lastDts = std::numeric_limits<qint64>::min();
    int m_videoCount = 0;
    std::vector<bool> m_streamStarted;

    qint64 m_doneBytes = 0;
    qint64 m_frameWeight = 0;
    QElapsedTimer m_reportClock;
};

void CopyRun::report(double fraction, bool force)
{
    if (!m_progress)
        return;
    if (!force && m_reportClock.isValid() && m_reportClock.elapsed() < 100)
        return;
    m_reportClock.start();
    m_progress(m_writer.bytesWritten(),
               std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0);
}

bool CopyRun::run(QString *error)
{
    if (!m_reader.open(m_job.inputPath, error))
        return false;
    AVFormatContext *in = m_reader.context();
    m_video = m_reader.videoIndex();
    m_streamStarted.assign(in->nb_streams, false);
    if (m_job.lengthSeconds >= 0)
        m_endSeconds = m_job.startSeconds + m_job.lengthSeconds;

    m_exact = m_job.exact;
    if (m_video >= 0) {
        m_codec = in->streams[m_video]->codecpar->codec_id;
        m_startTs = m_reader.toStreamTime(m_job.startSeconds, m_video);
        if (m_job.lengthSeconds >= 0)
            m_endTs = m_reader.toStreamTime(m_endSeconds, m_video);
        const QString obstacle = exactObstacle(m_reader);
        if (m_exact && !obstacle.isEmpty()) {
            m_exact = false;
            m_notes << QStringLiteral("Not cut to the frame: %1.").arg(obstacle);
        }
    }
    if (!m_reader.findEntry(m_job.startSeconds, error))
        return false;

    qint64 zeroMicros = 0;
    CutWriter::VideoOverride video;
    if (m_video >= 0) {
        if (!planVideo(error))
            return false;
        const AVStream *st = in->streams[m_video];
        zeroMicros = av_rescale_q(m_plan.zeroPts, st->time_base, AV_TIME_BASE_Q);
        m_audioFrom = m_exact ? m_job.startSeconds : m_reader.toSeconds(m_plan.zeroPts, m_video);
        // The head runs to the first packet a copy can follow new frames with: an IDR in
        // H.264, where open GOPs have none for long; everything before it is re-encoded.
        const double headSeconds = m_plan.head.active()
            ? m_reader.toSeconds(m_plan.head.toPts, m_video)
                - m_reader.toSeconds(m_plan.head.fromPts, m_video)
            : 0.0;
        if (m_exact && headSeconds > kLongHeadSeconds)
            m_notes << QStringLiteral("Re-encoded %1 s at the start: the video has no key frame "
                                      "that copied frames can follow until then.")
                           .arg(headSeconds, 0, 'f', 1);
        if (!m_exact && m_plan.zeroPts < m_startTs)
            m_notes << QStringLiteral("The copy starts on the key frame at %1 s.")
                           .arg(m_reader.toSeconds(m_plan.zeroPts, m_video), 0, 'f', 3);
        if (!setUpVideo(&video, error))
            return false;
        m_frameWeight = qint64(st->codecpar->width) * st->codecpar->height * 4;
    } else {
        m_audioFrom = m_job.startSeconds;
        const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
        zeroMicros = start + qint64(std::llround(m_job.startSeconds * AV_TIME_BASE));
    }
    const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
    const qint64 endMicros = m_job.lengthSeconds >= 0
        ? start + qint64(std::llround(m_endSeconds * AV_TIME_BASE))
        : std::numeric_limits<qint64>::max() / 2;
    if (!m_writer.open(m_job.outputPath, in, video, zeroMicros, endMicros, error))
        return false;
    for (const QString &stream : m_writer.leftOut())
        m_notes << QStringLiteral("Left out (the container cannot carry it): %1.").arg(stream);

    if (!copyPackets(error))
        return false;
    if (!m_writer.finish(error))
        return false;
    report(1.0, true);
    return true;
}

bool CopyRun::scan(bool skipMiddle, QString *error)
{
    // Every video packet from the entry to past the end: its time and whether decoding can
    // start there. The scan ends once a packet after the end where decoding can begin and its
    // leading pictures have gone by.
    //
    // A long range is read in two windows: from the entry to just past the first packet in
    // the range a copy can begin on, and from a random access point shortly before the end.
    // Everything between is copied as it is, so it needs no look; the plan sees it as one
    // frame (m_gapIndex).
    m_frames.clear();
    m_dts.clear();
    m_inBandIds.clear();
    m_gapIndex = -1;
    m_scanBytes = 0;
    if (!m_reader.rewind()) {
        *error = QStringLiteral("The source cannot be read at the start of the range.");
        return false;
    }
    AvPacketPtr packet = MakePacket();
    qint64 endKey = kNever;
    qint64 copyKey = kNever; // the first packet in the range a copy can begin on
    qint64 latest = std::numeric_limits<qint64>::min();
    int afterKey = 0;
    bool middleTried = !skipMiddle || m_endTs == kNever;
    bool toRandomAccess = false; // in the end window, before its first random access point
    qint64 firstPos = -1;
    qint64 lastPos = -1;
    while (m_reader.read(packet.get())) {
        if (cancelled(error))
            return false;
        m_scanBytes += packet->size;
        if (packet->pos >= 0) {
            if (firstPos < 0)
                firstPos = packet->pos;
            lastPos = packet->pos + packet->size;
        }
        const bool video = packet->stream_index == m_video;
        if (!video || (toRandomAccess && !m_reader.isRandomAccess(packet.get()))) {
            av_packet_unref(packet.get());
            continue;
        }
        toRandomAccess = false;
        const qint64 t = SourceReader::packetTime(packet.get());
        if (endKey != kNever && t > endKey) {
            av_packet_unref(packet.get());
            break;
        }
        CutFrame f;
        f.pts = t;
        f.clean = m_reader.isCleanStart(packet.get());
        f.key = f.clean || m_reader.isRandomAccess(packet.get());
        if (f.clean && m_codec == AV_CODEC_ID_H264) {
            const QByteArray extra = extradataOf(m_reader.videoStream()->codecpar);
            const int length
                = NalUnits::isConfigRecord(extra) ? NalUnits::parseAvcConfig(extra).lengthSize : 0;
            for (const QByteArray &u : NalUnits::split(bytesOf(packet.get()), length)) {
                if (NalUnits::h264Type(u) == NalUnits::H264Sps)
                    m_inBandIds << NalUnits::h264SpsId(u);
                else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
                    m_inBandIds << NalUnits::h264PpsId(u);
            }
        }
        const qint64 dts = packet->dts;
        av_packet_unref(packet.get());
        if (t == AV_NOPTS_VALUE) {
            *error = QStringLiteral("The video has packets without timestamps.");
            return false;
        }
        m_frames << f;
        m_dts << dts;
        latest = std::max(latest, t);
        if (f.startsDecoding() && t >= m_endTs && endKey == kNever)
            endKey = t;
        if (m_endTs != kNever)
            report(0.1 * double(t - m_startTs) / double(std::max<qint64>(1, m_endTs - m_startTs)));
        if (middleTried)
            continue;
        if (copyKey == kNever) {
            if ((m_exact ? f.clean : f.startsDecoding()) && t >= m_startTs)
                copyKey = t;
            continue;
        }
        // The start window is complete a few packets after the first one shown after the
        // copy's key frame: its leading pictures have gone by.
        if (t > copyKey)
            ++afterKey;
        if (afterKey < kWindowSlack)
            continue;
        middleTried = true;
        const double reached = m_reader.toSeconds(latest, m_video);
        if (m_endSeconds - reached < kMiddleSeconds)
            continue; // a short range: read on
        if (!m_reader.seekBetween(reached + 1.0, m_endSeconds))
            return scan(false, error); // the end cannot be found apart: read it all
        m_frames << CutFrame {}; // its time is set once both windows are known
        m_dts << AV_NOPTS_VALUE;
        m_gapIndex = int(m_frames.size()) - 1;
        toRandomAccess = true;
    }
    if (m_reader.readFailed()) {
        *error = QStringLiteral("The source could not be read to the end of the range.");
        return false;
    }
    if (m_gapIndex >= 0) {
        qint64 before = std::numeric_limits<qint64>::min();
        qint64 after = std::numeric_limits<qint64>::max();
        for (int i = 0; i < m_frames.size(); ++i) {
            if (i < m_gapIndex)
                before = std::max(before, m_frames.at(i).pts);
            else if (i > m_gapIndex)
                after = std::min(after, m_frames.at(i).pts);
        }
        if (after == std::numeric_limits<qint64>::max() || after - before < 2)
            return scan(false, error);
        m_frames[m_gapIndex].pts = after - 1;
        // The bytes between the windows count for the progress too.
        if (firstPos >= 0 && lastPos > firstPos)
            m_scanBytes = std::max(m_scanBytes, lastPos - firstPos);
    }
    return true;
}

bool CopyRun::planVideo(QString *error)
{
    if (!scan(true, error))
        return false;
    m_plan = PlanCut(m_frames, m_startTs, m_endTs, m_exact);
    // The packets between the windows must all be copied, and no edge may need them decoded;
    // otherwise the range is looked at whole.
    const CutPlan::Edge &head = m_plan.head;
    const CutPlan::Edge &tail = m_plan.tail;
    if (m_gapIndex >= 0
        && (!m_plan.ok || !m_plan.copies(m_gapIndex)
            || (head.active() && head.decodeTo >= m_gapIndex)
            || (tail.active() && tail.decodeFrom <= m_gapIndex))) {
        if (!scan(false, error))
            return false;
        m_plan = PlanCut(m_frames, m_startTs, m_endTs, m_exact);
    }
    if (!m_plan.ok) {
        *error = m_plan.error;
        return false;
    }
    return true;
}

QList<int> CopyRun::usedParameterSetIds() const
{
    QList<int> used(m_inBandIds.begin(), m_inBandIds.end());
    const NalUnits::AvcConfig config
        = NalUnits::parseAvcConfig(extradataOf(m_reader.videoStream()->codecpar));
    for (const QByteArray &s : config.sps)
        used << NalUnits::h264SpsId(s);
    for (const QByteArray &p : config.pps)
        used << NalUnits::h264PpsId(p);
    for (const QByteArray &u : NalUnits::split(extradataOf(m_reader.videoStream()->codecpar), 0)) {
        used << NalUnits::h264SpsId(u) << NalUnits::h264PpsId(u);
    }
    return used;
}

bool CopyRun::setUpVideo(CutWriter::VideoOverride *video, QString *error)
{
    video->inputIndex = m_video;
    if (!m_exact || (!m_plan.head.active() && !m_plan.tail.active()))
        return true;
    const AVStream *st = m_reader.videoStream();
    const QByteArray extra = extradataOf(st->codecpar);
    const bool records = NalUnits::isConfigRecord(extra);

    EdgeEncoder::Options options;
    QList<int> freeIds;
    if (m_codec == AV_CODEC_ID_H264) {
        const QList<int> used = usedParameterSetIds();
        for (int id = 1; id < 32 && freeIds.size() < 2; ++id) {
            if (!used.contains(id))
                freeIds << id;
        }
        if (freeIds.size() < 2) {
            *error = QStringLiteral("The video uses every parameter set id.");
            return false;
        }
        options.globalHeader = records;
    }
    NalUnits::AvcConfig avc = NalUnits::parseAvcConfig(extra);
    auto openEdge = [&](std::optional<EdgeEncoder> &edge, const CutPlan::Edge &range, int id) {
        if (!range.active())
            return true;
        edge.emplace();
        options.h264ParameterSetId = id;
        if (!edge->open(st, options, error))
            return false;
        edge->setRange(range.fromPts, range.toPts);
        edge->setCancel(&m_cancel);
        if (m_codec == AV_CODEC_ID_H264 && records) {
            for (const QByteArray &u : NalUnits::split(edge->extradata(), 0)) {
                if (NalUnits::h264Type(u) == NalUnits::H264Sps)
                    avc.sps << u;
                else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
                    avc.pps << u;
            }
        }
        return true;
    };
    if (!openEdge(m_head, m_plan.head, m_codec == AV_CODEC_ID_H264 ? freeIds.at(0) : 0)
        || !openEdge(m_tail, m_plan.tail, m_codec == AV_CODEC_ID_H264 ? freeIds.at(1) : 0))
        return false;
    if (m_plan.copyFrom >= 0 && m_dts.at(m_plan.copyFrom) != AV_NOPTS_VALUE)
        m_delay = std::max<qint64>(0, m_frames.at(m_plan.copyFrom).pts - m_dts.at(m_plan.copyFrom));
    m_headDone = !m_head;
    m_tailDone = !m_tail;
    if (m_codec == AV_CODEC_ID_H264 && records) {
        // One configuration for both: the source's parameter sets and the new frames'.
        video->extradata = NalUnits::buildAvcConfig(avc);
    } else if (m_codec == AV_CODEC_ID_HEVC && records) {
        video->extradata = NalUnits::hevcConfigAllowingInBand(extra);
        video->codecTag = MKTAG('h', 'e', 'v', '1');
    }
    return true;
}

QList<QByteArray> CopyRun::sourceParameterSets() const
{
    const QByteArray extra = extradataOf(m_reader.videoStream()->codecpar);
    if (m_codec == AV_CODEC_ID_H264 && NalUnits::isConfigRecord(extra)) {
        const NalUnits::AvcConfig c = NalUnits::parseAvcConfig(extra);
        return c.sps + c.pps;
    }
    if (m_codec == AV_CODEC_ID_HEVC && NalUnits::isConfigRecord(extra))
        return NalUnits::parseHevcConfig(extra).units;
    QList<QByteArray> units;
    for (const QByteArray &u : NalUnits::split(extra, 0)) {
        const int type
            = m_codec == AV_CODEC_ID_H264 ? NalUnits::h264Type(u) : NalUnits::hevcType(u);
        if ((m_codec == AV_CODEC_ID_H264
             && (type == NalUnits::H264Sps || type == NalUnits::H264Pps))
            || (m_codec == AV_CODEC_ID_HEVC && type >= NalUnits::HevcVps
                && type <= NalUnits::HevcPps))
            units << u;
    }
    return units;
}

// The first copied key frame after re-encoded frames must bring the source's parameter sets
// with it where the stream (not the decoder configuration) carries them.
bool CopyRun::needsParameterSets(const AVPacket *packet) const
{
    if (m_codec == AV_CODEC_ID_MPEG2VIDEO)
        return !(packet->size >= 4 && packet->data[0] == 0 && packet->data[1] == 0
                 && packet->data[2] == 1 && packet->data[3] == 0xb3);
    if (m_codec == AV_CODEC_ID_H264 && m_writer.nalLengthSize() > 0)
        return false; // the shared avcC holds them
    for (const QByteArray &u : NalUnits::split(bytesOf(packet), m_writer.nalLengthSize())) {
        if ((m_codec == AV_CODEC_ID_H264 && NalUnits::h264Type(u) == NalUnits::H264Sps)
            || (m_codec == AV_CODEC_ID_HEVC && NalUnits::hevcType(u) == NalUnits::HevcSps))
            return false;
    }
    return true;
}

QByteArray CopyRun::toOutputFraming(const QByteArray &annexB) const
{
    if (m_writer.nalLengthSize() == 0 || m_codec == AV_CODEC_ID_MPEG2VIDEO)
        return annexB;
    return NalUnits::join(NalUnits::split(annexB, 0), m_writer.nalLengthSize());
}

// The copied packets held back while the head was still being encoded, in their order.
bool CopyRun::writeWaiting(QString *error)
{
    while (!m_waiting.empty()) {
        if (!writeVideo(m_waiting.front().get(), error))
            return false;
        m_waiting.pop_front();
    }
    return true;
}

bool CopyRun::writeVideo(AVPacket *packet, QString *error)
{
    if (packet->dts != AV_NOPTS_VALUE)
        m_lastDts = std::max<qint64>(m_lastDts, packet->dts);
    return m_writer.write(packet, m_video, error);
}

bool CopyRun::edgeFailed(const EdgeEncoder &encoder, QString *error) const
{
    if (encoder.damagedAt() != AV_NOPTS_VALUE)
        *error = QStringLiteral("The video is damaged at %1 (a frame there cannot be decoded), "
                                "so the frames there cannot be re-encoded. A copy that starts "
                                "on a key frame, without the exact cut, still works.")
                     .arg(FormatTimeCode(
                         std::max(0.0, m_reader.toSeconds(encoder.damagedAt(), m_video))));
    return false;
}

bool CopyRun::writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy, QString *error)
{
    if (final && !encoder.finish(error))
        return edgeFailed(encoder, error);
    // The last packet stays with the encoder until the end: HEVC ends the sequence in it.
    std::vector<AvPacketPtr> packets = encoder.takePackets(!final);
    for (size_t i = 0; i < packets.size(); ++i) {
        AVPacket *p = packets[i].get();
        QByteArray data = bytesOf(p);
        if (m_codec == AV_CODEC_ID_HEVC && final && beforeCopy && i + 1 == packets.size()) {
            // End the new frames' sequence so that the copied key frame starts afresh. The new
            // frames declare no reordering, so each is output as soon as it is decoded: a
            // copied CRA picture after the end of a sequence discards the pictures still
            // waiting for output, so a deeper declared reorder (the source's) would lose the
            // last new frames. A demuxer that takes the reorder depth from the first
            // parameter sets of an MPEG-TS stream finds the copied frames deeper and grows it.
            data += QByteArray("\0\0\0\1\x48\x01", 6);
        }
        if (!replaceData(p, toOutputFraming(data))) {
            *error = QStringLiteral("Out of memory.");
            return false;
        }
        // Decoding times run ahead of presentation by the source's delay, so that the copied
        // packets that follow keep theirs.
        qint64 dts = p->pts - m_delay;
        if (m_lastDts != std::numeric_limits<qint64>::min())
            dts = std::max(dts, m_lastDts + 1);
        p->dts = std::min<qint64>(dts, p->pts);
        if (!writeVideo(p, error))
            return false;
    }
    return true;
}

bool CopyRun::copyVideo(const AVPacket *packet, bool first, QString *error)
{
    AvPacketPtr copy(av_packet_clone(packet));
    if (!copy) {
        *error = QStringLiteral("Out of memory.");
        return false;
    }
    // After re-encoded frames, and in containers whose decoder configuration travels in the
    // stream, the first copied frame brings the source's parameter sets.
    if (first && ((m_exact && m_plan.head.active()) || m_writer.configInStream())
        && needsParameterSets(copy.get())) {
        const QByteArray sets = m_codec == AV_CODEC_ID_MPEG2VIDEO
            ? extradataOf(m_reader.videoStream()->codecpar)
            : NalUnits::join(sourceParameterSets(), m_writer.nalLengthSize());
        if (!replaceData(copy.get(), sets + bytesOf(copy.get()))) {
            *error = QStringLiteral("Out of memory.");
            return false;
        }
    }
    m_waiting.push_back(std::move(copy));
    return !m_headDone || writeWaiting(error);
}

bool CopyRun::handleVideo(AVPacket *packet, QString *error)
{
    if (m_videoCount == m_gapIndex) {
        // Between the windows until the end window's first packet comes.
        const CutFrame &next = m_frames.at(m_gapIndex + 1);
        if (SourceReader::packetTime(packet) != next.pts || !(packet->flags & AV_PKT_FLAG_KEY))
            return copyVideo(packet, false, error);
        ++m_videoCount;
    }
    const int i = m_videoCount++;
    if (i > m_plan.lastPacket)
        return true;
    if (i >= m_frames.size() || SourceReader::packetTime(packet) != m_frames.at(i).pts) {
        *error = QStringLiteral("The source reads differently the second time.");
        return false;
    }
    if (m_head && i >= m_plan.head.decodeFrom && i <= m_plan.head.decodeTo && !m_headDone) {
        // The head comes first in the output: its frames are written as they are encoded.
        if (!m_head->feed(packet, error))
            return edgeFailed(*m_head, error);
        if (!writeEdge(*m_head, false, false, error))
            return false;
    }
    if (m_tail && i >= m_plan.tail.decodeFrom && i <= m_plan.tail.decodeTo && !m_tailDone) {
        if (!m_tail->feed(packet, error))
            return edgeFailed(*m_tail, error);
    }
    if (m_plan.copies(i)) {
        const bool first = m_firstCopy;
        m_firstCopy = false;
        if (!copyVideo(packet, first, error))
            return false;
    }
    if (m_head && !m_headDone && i == m_plan.head.decodeTo) {
        m_headDone = true;
        if (!writeEdge(*m_head, true, m_plan.copyFrom >= 0, error))
            return false;
        if (!writeWaiting(error))
            return false;
    }
    if (m_tail && !m_tailDone && i == m_plan.tail.decodeTo) {
        m_tailDone = true;
        if (!writeEdge(*m_tail, true, false, error))
            return false;
    }
    return true;
}

bool CopyRun::handleOther(AVPacket *packet, QString *error)
{
    const int s = packet->stream_index;
    const AVStream *st = m_reader.context()->streams[s];
    if (m_writer.outputIndex(s) < 0 || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
        return true;
    const qint64 t = SourceReader::packetTime(packet);
    if (t == AV_NOPTS_VALUE)
        return true;
    const double begin = m_reader.toSeconds(t, s);
    const double length
        = packet->duration > 0 ? m_reader.toSeconds(t + packet->duration, s) - begin : 0.0;
    const qint64 zero = m_reader.toStreamTime(m_audioFrom, s);
    switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        // The audio frame boundary nearest each mark: frames whose middle is in the range.
        const double middle = begin + length / 2;
        if (middle < m_audioFrom || middle >= m_endSeconds)
            return true;
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        if (begin >= m_endSeconds || (length > 0 ? begin + length : begin) < m_audioFrom)
            return true;
        if (packet->duration > 0
            && t + packet->duration
                > (m_job.lengthSeconds >= 0 ? m_reader.toStreamTime(m_endSeconds, s) : kNever))
            packet->duration
                = (m_job.lengthSeconds >= 0 ? m_reader.toStreamTime(m_endSeconds, s) : kNever)
                - t; // and one shown across the end, to the end
        if (t < zero) { // a subtitle shown across the start is shown from the start
            if (packet->duration > 0)
                packet->duration -= zero - t;
            packet->pts = zero;
            packet->dts = zero;
        }
        break;
    case AVMEDIA_TYPE_VIDEO:
        // Another video stream is copied from its first key frame in the range.
        if (begin >= m_endSeconds)
            return true;
        if (!m_streamStarted[size_t(s)]) {
            if (!(packet->flags & AV_PKT_FLAG_KEY) || begin < m_audioFrom - 1e-6)
                return true;
            m_streamStarted[size_t(s)] = true;
        }
        break;
    default:
        if (begin < m_audioFrom || begin >= m_endSeconds)
            return true;
        break;
    }
    AvPacketPtr copy(av_packet_clone(packet));
    if (!copy) {
        *error = QStringLiteral("Out of memory.");
        return false;
    }
    return m_writer.write(copy.get(), s, error);
}

bool CopyRun::copyPackets(QString *error)
{
    AVFormatContext *in = m_reader.context();
    // Cover pictures are one packet, kept whatever the range.
    for (unsigned s = 0; s < in->nb_streams; ++s) {
        const AVStream *st = in->streams[s];
        if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0
            && m_writer.outputIndex(int(s)) >= 0) {
            AvPacketPtr pic(av_packet_clone(&st->attached_pic));
            if (!pic)
                continue;
            pic->pts = pic->dts = av_rescale_q(
                m_plan.zeroPts, m_video >= 0 ? in->streams[m_video]->time_base : AV_TIME_BASE_Q,
                st->time_base);
            if (!m_writer.write(pic.get(), int(s), error))
                return false;
        }
    }
    if (!m_reader.rewind()) {
        *error = QStringLiteral("The source cannot be read at the start of the range.");
        return false;
    }
    const qint64 total = std::max<qint64>(
        1, m_scanBytes + m_frameWeight * (m_plan.head.frames + m_plan.tail.frames));
    AvPacketPtr packet = MakePacket();
    bool pastEnd = false;
    double reached = -1e300; // the latest time any packet reaches
    while (m_reader.read(packet.get())) {
        if (cancelled(error))
            return false;
        m_doneBytes += packet->size;
        const int s = packet->stream_index;
        const bool videoDone = m_video < 0 || m_videoCount > m_plan.lastPacket;
        const qint64 t = SourceReader::packetTime(packet.get());
        if (t != AV_NOPTS_VALUE)
            reached = std::max(reached, m_reader.toSeconds(t + packet->duration, s));
        if (videoDone && t != AV_NOPTS_VALUE
            && m_reader.toSeconds(t, s) > m_endSeconds + kTrailSeconds) {
            av_packet_unref(packet.get());
            pastEnd = true;
            break;
        }
        const bool ok
            = s == m_video ? handleVideo(packet.get(), error) : handleOther(packet.get(), error);
        av_packet_unref(packet.get());
        if (!ok)
            return false;
        if (m_video >= 0) {
            // Each frame encoded anew weighs as much as its picture's bytes: the edges take
            // most of the time.
            const qint64 encoded
                = (m_head ? m_head->framesEncoded() : 0) + (m_tail ? m_tail->framesEncoded() : 0);
            report(0.1 + 0.9 * double(m_doneBytes + m_frameWeight * encoded) / double(total));
        } else if (m_job.lengthSeconds > 0 && t != AV_NOPTS_VALUE)
            report((m_reader.toSeconds(t, s) - m_job.startSeconds) / m_job.lengthSeconds);
    }
    if (m_reader.readFailed()) {
        *error = QStringLiteral("The source could not be read to the end of the range.");
        return false;
    }
    // A file cut short (a download or recording that did not finish) ends before the range
    // its header promises: a much shorter copy is a failure, not a saved cut.
    if (!pastEnd && m_job.lengthSeconds >= 0 && reached < m_endSeconds - kShortfallSeconds) {
        *error = QStringLiteral("The source ends at %1, before the end of the range at %2: the "
                                "file is incomplete or damaged.")
                     .arg(FormatTimeCode(std::max(0.0, reached)), FormatTimeCode(m_endSeconds));
        return false;
    }
    // The stream ended before an edge was complete: write what it gave.
    if (m_head && !m_headDone) {
        m_headDone = true;
        if (!writeEdge(*m_head, true, m_plan.copyFrom >= 0, error))
            return false;
    }
    if (!writeWaiting(error))
        return false;
    if (m_tail && !m_tailDone) {
        m_tailDone = true;
        if (!writeEdge(*m_tail, true, false, error))
            return false;
    }
    return true;
}

} // namespace

StreamCopy::StreamCopy(StreamCopyJob job)
    : m_job(std::move(job))
{
    m_job.startSeconds
        = std::isfinite(m_job.startSeconds) ? std::clamp(m_job.startSeconds, 0.0, kMaxSeconds) : 0;
    if (!std::isfinite(m_job.lengthSeconds) || m_job.lengthSeconds < 0)
        m_job.lengthSeconds = -1;
    else
        m_job.lengthSeconds = std::min(m_job.lengthSeconds, kMaxSeconds);
}

bool StreamCopy::run(const std::atomic<bool> &cancel, const Progress &progress)
{
    m_error.clear();
    m_notes.clear();
    av_log_set_level(qEnvironmentVariableIsSet("SNIPORA_AVLOG") ? AV_LOG_WARNING : AV_LOG_QUIET);
    CopyRun copy(m_job, cancel, progress, m_notes);
    return copy.run(&m_error);
}

QString DescribeCopyStart(const CopyStart &start)
{
    if (start.exact)
        return QString();
    QString line = QStringLiteral("The copy starts at %1, on the key frame at or before the "
                                  "start mark")
                       .arg(FormatTimeCode(start.startSeconds));
    if (!start.reason.isEmpty())
        line += QStringLiteral(" (no exact cut: %1)").arg(start.reason);
    return line + QLatin1Char('.');
}

CopyStart PredictCopyStart(const QString &path, double startSeconds, bool exactWanted, double)
{
    CopyStart result;
    result.startSeconds = startSeconds;
    SourceReader reader;
    QString error;
    av_log_set_level(AV_LOG_QUIET);
    if (!reader.open(path, &error) || reader.videoIndex() < 0) {
        result.exact = true; // nothing to say: no video (or the run will report the error)
        return result;
    }
    result.reason = exactObstacle(reader);
    result.exact = exactWanted && result.reason.isEmpty();
    if (result.exact || !reader.findEntry(startSeconds, &error) || !reader.rewind())
        return result;
    if (!exactWanted)
        result.reason.clear();
    // The last key frame at or before the start where decoding can begin.
    const int video = reader.videoIndex();
    const qint64 target = reader.toStreamTime(startSeconds, video);
    AvPacketPtr packet = MakePacket();
    qint64 best = AV_NOPTS_VALUE;
    while (reader.read(packet.get())) {
        const qint64 t = SourceReader::packetTime(packet.get());
        const bool isVideo = packet->stream_index == video;
        const bool clean = isVideo && reader.isRandomAccess(packet.get());
        av_packet_unref(packet.get());
        if (!isVideo || t == AV_NOPTS_VALUE)
            continue;
        if (clean && t > target)
            break;
        if (clean)
            best = t;
    }
    if (best != AV_NOPTS_VALUE)
        result.startSeconds = std::max(0.0, reader.toSeconds(best, video));
    return result;
}
