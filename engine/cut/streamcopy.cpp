#include "streamcopy.h"

#include "avhandles.h"
#include "cutplanner.h"
#include "cutwriter.h"
#include "edgeencoder.h"
#include "nalrewrite.h"
#include "nalunits.h"
#include "sourcereader.h"
#include "timecode.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <algorithm>
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
// A head this long is worth a note: the source's key frames are far apart.
constexpr double kLongHeadSeconds = 2.0;
// How far past the start a prediction of where the copy starts looks for a key frame.
constexpr double kPredictSeconds = 30.0;
// A video packet this far behind the latest one read is no reordering but a damaged time (a
// container cluster out of order): it is left out, as it could be shown nowhere in order.
constexpr double kBackwardsSeconds = 2.0;
// Open-GOP key frames tried, one after the other, before a copy is planned on IDRs only.
constexpr int kSpliceAttempts = 4;
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

// What is wrong with a source whose video the probe could not decode a picture of, where its
// decoder configuration tells: the parameter sets every picture needs are not in it (nor in the
// stream, or a picture would have decoded). A copy of such a file does not play either; "" when
// nothing is known to be wrong.
QString sourceDefect(const SourceReader &reader)
{
    const AVStream *video = reader.videoStream();
    if (!video || video->codecpar->format != AV_PIX_FMT_NONE)
        return QString();
    const AVCodecParameters *par = video->codecpar;
    const QByteArray extra = extradataOf(par);
    if (!NalUnits::isConfigRecord(extra)
        || (par->codec_id != AV_CODEC_ID_H264 && par->codec_id != AV_CODEC_ID_HEVC))
        return QString();
    const bool avc = par->codec_id == AV_CODEC_ID_H264;
    const QString record = avc ? QStringLiteral("avcC") : QStringLiteral("hvcC");
    QStringList missing;
    if (avc) {
        const NalUnits::AvcConfig c = NalUnits::parseAvcConfig(extra);
        if (!c.ok)
            missing << QString();
        if (c.ok && c.sps.isEmpty())
            missing << QStringLiteral("sequence parameter set (SPS)");
        if (c.ok && c.pps.isEmpty())
            missing << QStringLiteral("picture parameter set (PPS)");
    } else {
        const NalUnits::HevcConfig c = NalUnits::parseHevcConfig(extra);
        const std::pair<int, const char *> sets[]
            = { { NalUnits::HevcVps, "video parameter set (VPS)" },
                { NalUnits::HevcSps, "sequence parameter set (SPS)" },
                { NalUnits::HevcPps, "picture parameter set (PPS)" } };
        if (!c.ok)
            missing << QString();
        for (const auto &[type, name] : sets) {
            if (c.ok
                && std::none_of(c.units.begin(), c.units.end(), [type = type](const QByteArray &u) {
                       return NalUnits::hevcType(u) == type;
                   }))
                missing << QLatin1String(name);
        }
    }
    if (missing.isEmpty())
        return QString();
    const QString what = missing.first().isEmpty()
        ? QStringLiteral("its decoder configuration (%1) cannot be read").arg(record)
        : QStringLiteral("its decoder configuration (%1) holds no %2, and the stream carries none")
              .arg(record, missing.join(QStringLiteral(" and no ")));
    return QStringLiteral("The video of this file cannot be decoded, as %1; the file is "
                          "damaged, and a copy of it would not play.")
        .arg(what);
}

// True when re-encoded frames can be made to decode under this H.264 sequence parameter set
// (see NalRewrite::spliceable) and lead into an open-GOP key frame that refers to it.
bool usableSpliceTarget(const QByteArray &unit)
{
    if (NalUnits::h264Type(unit) != NalUnits::H264Sps)
        return false;
    const NalRewrite::H264Sps sps = NalRewrite::parseH264Sps(unit);
    return sps.ok && sps.frameMbsOnly && (sps.pocType == 0 || sps.pocType == 2)
        && !sps.scalingMatrix && !sps.separateColourPlane && !sps.transformBypass
        && sps.maxNumRefFrames > 0;
}

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
    // Where the copy of the job would start, and how much of it would be re-encoded, from a
    // look at the start of the range only.
    CopyStart predict();

private:
    // Parameter sets of an edge's encoder under ids of their own, and the id its slices use.
    struct EdgeSets
    {
        QList<QByteArray> units;
        int ppsId = -1;
    };
    // A head that leads into an H.264 open-GOP key frame (a recovery point, not an IDR): its
    // slices follow the source's sequence parameter set, numbered so that the copied frame
    // continues them.
    struct Splice
    {
        bool active = false;
        NalRewrite::H264Sps encoderSps;
        NalRewrite::H264Pps encoderPps;
        NalRewrite::H264Sps target;
        QByteArray targetUnit; // the source's SPS, as it stands in the output
        QByteArray raisedUnit; // that SPS declaring the head's higher level, when it needs one
        QByteArray pps; // the head's PPS under its id, on the source's SPS
        int ppsId = -1;
        int keyFrameNum = 0;
        int keyPocLsb = 0;
        int frames = 0; // in the head
        // The pictures the last head frame marks unused, so that the copied frames find the
        // references they expect (difference_of_pic_nums_minus1 of each).
        QList<int> unmark;
    };

    bool cancelled(QString *error) const
    {
        if (!m_cancel.load())
            return false;
        *error = QStringLiteral("The copy was stopped.");
        return true;
    }
    void report(double fraction, bool force = false);
    bool open(QString *error);
    bool scan(bool skipMiddle, bool startOnly, QString *error);
    bool planVideo(QString *error);
    // Takes a copied video packet: held until the head is written, then written.
    bool copyVideo(const AVPacket *packet, bool first, QString *error);
    QList<int> usedParameterSetIds() const;
    // False with an empty *error when the plan must be made without open-GOP splices.
    bool setUpVideo(CutWriter::VideoOverride *video, QString *error);
    bool setUpSplice(const EdgeEncoder &head);
    bool setUpHevcSets(const EdgeEncoder &edge, EdgeSets *sets, const EdgeSets *other);
    double edgeBitRate(const CutPlan::Edge &edge) const;
    bool copyPackets(QString *error);
    bool handleVideo(AVPacket *packet, QString *error);
    bool openTail(QString *error);
    void closeEdge(std::optional<EdgeEncoder> &edge);
    // False for a video packet far behind the latest one (see kBackwardsSeconds).
    bool inOrder(qint64 t, qint64 *latest) const;
    bool handleOther(AVPacket *packet, QString *error);
    bool handleAudio(const AVPacket *packet, QString *error);
    bool releaseAudio(AVPacket *held, const AVPacket *next, QString *error);
    // Writes what the edge has encoded so far; at the end (final) drains it first.
    bool writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy, QString *error);
    bool edgeFailed(const EdgeEncoder &encoder, QString *error) const;
    // An encoded packet of an edge as it stands in the output (Annex B).
    QByteArray edgePacket(bool head, int index, const QByteArray &data) const;
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
    QString m_obstacle;
    int m_video = -1;
    AVCodecID m_codec = AV_CODEC_ID_NONE;
    qint64 m_startTs = 0; // the marks in the video's time base
    qint64 m_endTs = kNever;
    double m_endSeconds = 1e300;
    bool m_toTheEnd = true;
    double m_audioFrom = 0; // seconds: audio frames whose middle is in [from, to) are kept
    QList<CutFrame> m_frames;
    int m_gapIndex = -1; // stands for the packets between the two windows of a long range
    QList<qint64> m_dts;
    QSet<int> m_inBandIds;
    QList<QByteArray> m_inBandSets; // H.264 and HEVC parameter sets read in the stream
    // Open-GOP key frames of H.264 that a copy may begin on after re-encoded frames: their
    // packet numbers, and the start of their first slice.
    bool m_spliceRecovery = false;
    QHash<int, QByteArray> m_recoverySlices;
    // The first slices of the packets that follow each such key frame (up to the next key
    // frame): their reference marking tells which earlier pictures the copy expects.
    QHash<int, QList<std::pair<int, QByteArray>>> m_recoveryFollowers;
    QSet<qint64> m_refusedKeys; // times of those the re-encoded frames cannot lead into
    qint64 m_scanBytes = 0;
    bool m_predicting = false;

    std::optional<EdgeEncoder> m_head;
    // The tail's encoder is opened when its frames come (its parameter sets are known from a
    // first opening at the start), and each encoder is closed when its edge is written: at
    // most one holds its frames at a time.
    std::optional<EdgeEncoder> m_tail;
    EdgeEncoder::Options m_tailOptions;
    QByteArray m_tailExtradata;
    int m_encodedDone = 0; // frames encoded by edges closed
    bool m_headDone = true;
    bool m_tailDone = true;
    Splice m_splice;
    bool m_raising = false; // in the copy, before its first IDR, with the splice's raised SPS
    EdgeSets m_headSets;
    EdgeSets m_tailSets;
    int m_headPackets = 0;
    int m_tailPackets = 0;
    std::deque<AvPacketPtr> m_waiting; // copied packets held until the head is written
    bool m_firstCopy = true;
    qint64 m_delay = 0; // the source's decoding delay at the copy start
    qint64 m_lastDts = std::numeric_limits<qint64>::min();
    int m_videoCount = 0;
    qint64 m_videoLatest = std::numeric_limits<qint64>::min(); // of the video packets read
    std::vector<bool> m_streamStarted;
    std::vector<AvPacketPtr> m_heldAudio; // by stream: the last packet read, not yet handled
    std::vector<qint64> m_audioEnd; // by stream: where the last audio packet handled ends

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

bool CopyRun::open(QString *error)
{
    if (!m_reader.open(m_job.inputPath, error))
        return false;
    AVFormatContext *in = m_reader.context();
    m_video = m_reader.videoIndex();
    m_streamStarted.assign(in->nb_streams, false);
    m_heldAudio.resize(in->nb_streams);
    m_audioEnd.assign(in->nb_streams, AV_NOPTS_VALUE);
    // An end at or past the end of the file (as its container gives it) takes the range to the
    // end: the duration a container declares may end where its last frame starts.
    const double duration = in->duration != AV_NOPTS_VALUE && in->duration > 0
        ? double(in->duration) / AV_TIME_BASE
        : -1;
    m_toTheEnd = m_job.lengthSeconds < 0
        || (duration > 0 && m_job.startSeconds + m_job.lengthSeconds >= duration - 1e-6);
    if (!m_toTheEnd)
        m_endSeconds = m_job.startSeconds + m_job.lengthSeconds;

    m_exact = m_job.exact;
    if (const QString defect = sourceDefect(m_reader); !defect.isEmpty()) {
        *error = defect;
        return false;
    }
    if (m_video >= 0) {
        m_codec = in->streams[m_video]->codecpar->codec_id;
        m_startTs = m_reader.toStreamTime(m_job.startSeconds, m_video);
        if (!m_toTheEnd)
            m_endTs = m_reader.toStreamTime(m_endSeconds, m_video);
        m_obstacle = exactObstacle(m_reader);
        if (!m_obstacle.isEmpty())
            m_exact = false;
        // A copy may begin on an H.264 open-GOP key frame when re-encoded frames can be made
        // to follow the source's sequence parameter set.
        if (m_exact && m_codec == AV_CODEC_ID_H264) {
            for (const QByteArray &u : sourceParameterSets())
                m_spliceRecovery = m_spliceRecovery || usableSpliceTarget(u);
        }
    }
    return m_reader.findEntry(m_job.startSeconds, error);
}

bool CopyRun::run(QString *error)
{
    if (!open(error))
        return false;
    AVFormatContext *in = m_reader.context();
    if (m_video >= 0 && m_job.exact && !m_obstacle.isEmpty())
        m_notes << QStringLiteral("Not cut to the frame: %1.").arg(m_obstacle);

    qint64 zeroMicros = 0;
    CutWriter::VideoOverride video;
    if (m_video >= 0) {
        if (!planVideo(error))
            return false;
        // An open-GOP key frame that the re-encoded frames cannot lead into: planned again
        // without it (after a few, with IDRs only).
        for (;;) {
            video = CutWriter::VideoOverride();
            if (setUpVideo(&video, error))
                break;
            if (!error->isEmpty() || !m_spliceRecovery)
                return false;
            m_refusedKeys << m_frames.at(m_plan.copyFrom).pts;
            if (m_refusedKeys.size() >= kSpliceAttempts)
                m_spliceRecovery = false;
            if (!planVideo(error))
                return false;
        }
        const AVStream *st = in->streams[m_video];
        zeroMicros = av_rescale_q(m_plan.zeroPts, st->time_base, AV_TIME_BASE_Q);
        m_audioFrom = m_exact ? m_job.startSeconds : m_reader.toSeconds(m_plan.zeroPts, m_video);
        // The head runs from the start mark to the first packet a copy can follow new frames
        // with: an IDR, or an H.264 recovery point; everything before it is re-encoded.
        qint64 latest = m_plan.zeroPts;
        for (const CutFrame &f : std::as_const(m_frames))
            latest = std::max(latest, f.pts);
        const double headSeconds = m_plan.head.active()
            ? (m_plan.copyFrom >= 0
                   ? m_reader.toSeconds(m_frames.at(m_plan.copyFrom).pts, m_video)
                   : (m_toTheEnd ? m_reader.toSeconds(latest, m_video) : m_endSeconds))
                - m_job.startSeconds
            : 0.0;
        if (m_exact && headSeconds > kLongHeadSeconds)
            m_notes << QStringLiteral("Re-encoded %1 s at the start: the video has no key frame "
                                      "that copied frames can follow until then.")
                           .arg(headSeconds, 0, 'f', 1);
        if (!m_exact && m_plan.zeroPts < m_startTs)
            m_notes << QStringLiteral("The copy starts on the key frame at %1 s.")
                           .arg(m_reader.toSeconds(m_plan.zeroPts, m_video), 0, 'f', 3);
        m_frameWeight = qint64(st->codecpar->width) * st->codecpar->height * 4;
    } else {
        m_audioFrom = m_job.startSeconds;
        const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
        zeroMicros = start + qint64(std::llround(m_job.startSeconds * AV_TIME_BASE));
    }
    const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
    const qint64 endMicros = !m_toTheEnd ? start + qint64(std::llround(m_endSeconds * AV_TIME_BASE))
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

CopyStart CopyRun::predict()
{
    CopyStart result;
    result.startSeconds = m_job.startSeconds;
    result.exact = true; // nothing to say: no video, or the run will report the error
    QString error;
    m_predicting = true;
    if (!open(&error) || m_video < 0)
        return result;
    result.reason = m_job.exact ? m_obstacle : QString();
    result.exact = m_exact;
    if (!scan(false, true, &error))
        return result;
    const CutPlan plan = PlanCut(m_frames, m_startTs, m_endTs, m_exact);
    if (!plan.ok)
        return result;
    if (!m_exact) {
        result.startSeconds = std::max(0.0, m_reader.toSeconds(plan.zeroPts, m_video));
        return result;
    }
    if (plan.copyFrom >= 0) {
        result.copiedFromSeconds = m_reader.toSeconds(m_frames.at(plan.copyFrom).pts, m_video);
        result.reencodedSeconds = result.copiedFromSeconds - m_job.startSeconds;
    } else {
        // Nothing in what was read can be copied: up to the end of the range, or further
        // than the look reached.
        qint64 latest = m_startTs;
        for (const CutFrame &f : std::as_const(m_frames))
            latest = std::max(latest, f.pts);
        const bool whole = m_endTs != kNever && latest >= m_endTs;
        result.reencodedSeconds = whole ? m_endSeconds - m_job.startSeconds
                                        : m_reader.toSeconds(latest, m_video) - m_job.startSeconds;
        result.reencodedBeyond = !whole;
    }
    return result;
}

bool CopyRun::scan(bool skipMiddle, bool startOnly, QString *error)
{
    // Every video packet from the entry to past the end: its time and whether decoding can
    // start there. The scan ends once a packet after the end where decoding can begin and its
    // leading pictures have gone by.
    //
    // A long range is read in two windows: from the entry to just past the first packet in
    // the range a copy can begin on, and from a random access point shortly before the end.
    // Everything between is copied as it is, so it needs no look; the plan sees it as one
    // frame (m_gapIndex). startOnly reads the first window only, and no further than
    // kPredictSeconds past the start.
    m_frames.clear();
    m_dts.clear();
    m_inBandIds.clear();
    m_inBandSets.clear();
    m_recoverySlices.clear();
    m_recoveryFollowers.clear();
    int following = -1; // the key frame whose followers are being kept
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
    bool middleTried = !startOnly && (!skipMiddle || m_endTs == kNever);
    bool toRandomAccess = false; // in the end window, before its first random access point
    qint64 firstPos = -1;
    qint64 lastPos = -1;
    const qint64 lookLimit
        = startOnly ? m_reader.toStreamTime(m_job.startSeconds + kPredictSeconds, m_video) : kNever;
    const QByteArray extra = extradataOf(m_reader.videoStream()->codecpar);
    int lengthSize = 0;
    if (NalUnits::isConfigRecord(extra))
        lengthSize = m_codec == AV_CODEC_ID_HEVC ? NalUnits::parseHevcConfig(extra).lengthSize
                                                 : NalUnits::parseAvcConfig(extra).lengthSize;
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
        if (!inOrder(t, &latest)) {
            av_packet_unref(packet.get());
            continue;
        }
        if ((endKey != kNever && t > endKey) || (t != AV_NOPTS_VALUE && t > lookLimit)) {
            av_packet_unref(packet.get());
            break;
        }
        CutFrame f;
        f.pts = t;
        f.size = packet->size;
        f.clean = m_reader.isCleanStart(packet.get());
        f.key = f.clean || m_reader.isRandomAccess(packet.get());
        const int index = int(m_frames.size());
        if (following >= 0 && f.key)
            following = -1;
        if (following >= 0) {
            QList<std::pair<int, QByteArray>> &list = m_recoveryFollowers[following];
            for (const QByteArray &u : NalUnits::split(bytesOf(packet.get()), lengthSize)) {
                if (NalUnits::h264Type(u) == 1) {
                    list << std::pair { index, u.left(512) };
                    break;
                }
            }
            if (list.size() >= 32)
                following = -1;
        }
        if (f.key && (m_codec == AV_CODEC_ID_H264 || m_codec == AV_CODEC_ID_HEVC)) {
            bool slice = false;
            for (const QByteArray &u : NalUnits::split(bytesOf(packet.get()), lengthSize)) {
                const int type
                    = m_codec == AV_CODEC_ID_H264 ? NalUnits::h264Type(u) : NalUnits::hevcType(u);
                const bool set = m_codec == AV_CODEC_ID_H264
                    ? type == NalUnits::H264Sps || type == NalUnits::H264Pps
                    : type >= NalUnits::HevcVps && type <= NalUnits::HevcPps;
                if (set && !m_inBandSets.contains(u))
                    m_inBandSets << u;
                if (type == NalUnits::H264Sps && m_codec == AV_CODEC_ID_H264)
                    m_inBandIds << NalUnits::h264SpsId(u);
                else if (type == NalUnits::H264Pps && m_codec == AV_CODEC_ID_H264)
                    m_inBandIds << NalUnits::h264PpsId(u);
                // An open-GOP key frame: the start of its first slice tells its numbering.
                if (m_codec == AV_CODEC_ID_H264 && type == 1 && !f.clean && !slice
                    && m_spliceRecovery && !m_refusedKeys.contains(t)) {
                    m_recoverySlices.insert(index, u.left(64));
                    following = index;
                    f.clean = true;
                }
                slice = slice || type == 1 || type == NalUnits::H264Idr;
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
        if (f.startsDecoding() && t >= m_endTs && endKey == kNever)
            endKey = t;
        if (m_endTs != kNever && !m_predicting)
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
        if (startOnly)
            break;
        const double reached = m_reader.toSeconds(latest, m_video);
        if (m_endSeconds - reached < kMiddleSeconds)
            continue; // a short range: read on
        if (!m_reader.seekBetween(reached + 1.0, m_endSeconds))
            return scan(false, false, error); // the end cannot be found apart: read it all
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
            return scan(false, false, error);
        m_frames[m_gapIndex].pts = after - 1;
        // The bytes between the windows count for the progress too.
        if (firstPos >= 0 && lastPos > firstPos)
            m_scanBytes = std::max(m_scanBytes, lastPos - firstPos);
    }
    return true;
}

bool CopyRun::planVideo(QString *error)
{
    if (!scan(true, false, error))
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
        if (!scan(false, false, error))
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

double CopyRun::edgeBitRate(const CutPlan::Edge &edge) const
{
    // The packets the edge's decoder reads: from the key frame before it on.
    qint64 bytes = 0;
    qint64 first = std::numeric_limits<qint64>::max();
    qint64 last = std::numeric_limits<qint64>::min();
    for (int i = std::max(0, edge.decodeFrom); i <= edge.decodeTo && i < m_frames.size(); ++i) {
        if (i == m_gapIndex)
            continue;
        bytes += m_frames.at(i).size;
        first = std::min(first, m_frames.at(i).pts);
        last = std::max(last, m_frames.at(i).pts);
    }
    const AVStream *st = m_reader.videoStream();
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    const double frame = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.04;
    if (first > last)
        return 0;
    const double seconds
        = m_reader.toSeconds(last, m_video) - m_reader.toSeconds(first, m_video) + frame;
    return double(bytes) * 8 / std::max(seconds, frame);
}

bool CopyRun::setUpVideo(CutWriter::VideoOverride *video, QString *error)
{
    error->clear();
    video->inputIndex = m_video;
    m_head.reset();
    m_tail.reset();
    m_splice = Splice();
    m_headSets = EdgeSets();
    m_tailSets = EdgeSets();
    m_headDone = true;
    m_tailDone = true;
    if (!m_exact || (!m_plan.head.active() && !m_plan.tail.active()))
        return true;
    const AVStream *st = m_reader.videoStream();
    const QByteArray extra = extradataOf(st->codecpar);
    const bool records = NalUnits::isConfigRecord(extra);
    // A copy that begins on an H.264 open-GOP key frame: the head leads into it.
    const bool splice = m_codec == AV_CODEC_ID_H264 && m_plan.head.active()
        && m_recoverySlices.contains(m_plan.copyFrom);

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
    // HEVC edges' parameter sets are renamed before they go into the output.
    if (m_codec == AV_CODEC_ID_HEVC)
        options.globalHeader = true;
    // New frames declare their level in their own parameter sets; a head that follows the
    // source's declares it in the source's, wherever the output carries them (copyVideo()).
    options.levelMayRise = true;
    auto openEdge = [&](std::optional<EdgeEncoder> &edge, const CutPlan::Edge &range, int id) {
        if (!range.active())
            return true;
        edge.emplace();
        EdgeEncoder::Options o = options;
        o.h264ParameterSetId = id;
        o.sourceBitRate = edgeBitRate(range);
        if (&edge == &m_head && splice)
            o.globalHeader = true;
        if (&edge == &m_tail)
            m_tailOptions = o;
        if (!edge->open(st, o, error))
            return false;
        edge->setRange(range.fromPts, range.toPts);
        edge->setCancel(&m_cancel);
        return true;
    };
    if (!openEdge(m_head, m_plan.head, m_codec == AV_CODEC_ID_H264 ? freeIds.at(0) : 0)
        || !openEdge(m_tail, m_plan.tail, m_codec == AV_CODEC_ID_H264 ? freeIds.at(1) : 0))
        return false;
    if (splice && !setUpSplice(*m_head)) {
        m_head.reset();
        m_tail.reset();
        return false; // with no error: planned again without the splice
    }
    if (m_codec == AV_CODEC_ID_HEVC
        && ((m_head && !setUpHevcSets(*m_head, &m_headSets, nullptr))
            || (m_tail && !setUpHevcSets(*m_tail, &m_tailSets, m_head ? &m_headSets : nullptr)))) {
        *error = QStringLiteral("The parameter sets of the re-encoded frames cannot be written.");
        return false;
    }

    // The level the new frames need, and what the output declares.
    const int declared = st->codecpar->level;
    int level = declared;
    bool limited = false;
    for (const std::optional<EdgeEncoder> *edge : { &m_head, &m_tail }) {
        if (*edge) {
            level = std::max(level, (*edge)->level());
            limited = limited || (*edge)->levelLimited();
        }
    }
    if (level > declared)
        m_notes << QStringLiteral("The re-encoded frames need more bits than level %1 allows: the "
                                  "video now declares level %2.")
                       .arg(levelName(m_codec, declared), levelName(m_codec, level));
    if (limited)
        m_notes << QStringLiteral("The re-encoded frames are held to the bit rate of level %1, "
                                  "below what the source spends there: they may look softer "
                                  "than the copied frames.")
                       .arg(levelName(m_codec, level));

    if (m_plan.copyFrom >= 0 && m_dts.at(m_plan.copyFrom) != AV_NOPTS_VALUE)
        m_delay = std::max<qint64>(0, m_frames.at(m_plan.copyFrom).pts - m_dts.at(m_plan.copyFrom));
    m_headDone = !m_head;
    m_tailDone = !m_plan.tail.active();
    if (m_splice.active && m_head->level() > m_splice.target.level)
        m_splice.raisedUnit = NalRewrite::withH264Level(m_splice.targetUnit, m_head->level());
    m_raising = !m_splice.raisedUnit.isEmpty();
    if (m_codec == AV_CODEC_ID_H264 && records) {
        // One configuration for all: the source's parameter sets and the new frames'.
        NalUnits::AvcConfig avc = NalUnits::parseAvcConfig(extra);
        for (const std::optional<EdgeEncoder> *edge : { &m_head, &m_tail }) {
            if (!*edge || (edge == &m_head && m_splice.active))
                continue;
            for (const QByteArray &u : NalUnits::split((*edge)->extradata(), 0)) {
                if (NalUnits::h264Type(u) == NalUnits::H264Sps)
                    avc.sps << u;
                else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
                    avc.pps << u;
            }
        }
        if (m_splice.active) {
            avc.pps << m_splice.pps;
            for (QByteArray &u : avc.sps) {
                if (u == m_splice.targetUnit && !m_splice.raisedUnit.isEmpty())
                    u = m_splice.raisedUnit;
            }
        }
        if (avc.head.size() >= 4)
            avc.head[3] = char(std::max(int(uchar(avc.head.at(3))), level));
        video->extradata = NalUnits::buildAvcConfig(avc);
    } else if (m_codec == AV_CODEC_ID_HEVC && records) {
        // Every parameter set in the decoder configuration, as "hvc1" wants it; the sample
        // entry stays the source's.
        video->extradata
            = NalRewrite::hevcConfigWith(extra, m_headSets.units + m_tailSets.units, level);
    }
    if (m_tail) {
        m_tailExtradata = m_tail->extradata();
        m_tail.reset();
    }
    return true;
}

bool CopyRun::setUpSplice(const EdgeEncoder &head)
{
    QList<NalRewrite::H264Sps> spss;
    QList<NalRewrite::H264Pps> ppss;
    QHash<int, QByteArray> spsUnits;
    for (const QByteArray &u : sourceParameterSets() + m_inBandSets) {
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
        = NalRewrite::readH264Slice(m_recoverySlices.value(m_plan.copyFrom), spss, ppss);
    if (!key.ok)
        return false;
    int spsId = -1;
    for (const NalRewrite::H264Pps &pps : std::as_const(ppss)) {
        if (pps.ok && pps.id == key.ppsId)
            spsId = pps.spsId;
    }
    for (const NalRewrite::H264Sps &sps : std::as_const(spss)) {
        if (sps.id == spsId)
            m_splice.target = sps;
    }
    QByteArray encoderPps;
    for (const QByteArray &u : NalUnits::split(head.extradata(), 0)) {
        if (NalUnits::h264Type(u) == NalUnits::H264Sps)
            m_splice.encoderSps = NalRewrite::parseH264Sps(u);
        else if (NalUnits::h264Type(u) == NalUnits::H264Pps)
            encoderPps = u;
    }
    m_splice.encoderPps = NalRewrite::parseH264Pps(encoderPps);
    if (!NalRewrite::spliceable(m_splice.encoderSps, m_splice.target) || !m_splice.encoderPps.ok
        || m_splice.encoderPps.weightedPred)
        return false;
    // The encoder's PPS id is one the source does not use.
    m_splice.ppsId = m_splice.encoderPps.id;
    m_splice.pps = NalRewrite::renameH264Pps(encoderPps, m_splice.ppsId, m_splice.target.id);
    m_splice.targetUnit = spsUnits.value(m_splice.target.id);
    m_splice.keyFrameNum = key.frameNum;
    m_splice.keyPocLsb = key.pocLsb;
    m_splice.frames = m_plan.head.frames;

    // The earlier pictures the copied frames mark unused must be there, as references, when
    // the copy begins: the head's last frame leaves exactly those (and itself) in the decoded
    // picture buffer. Leading pictures that are references cannot be left out.
    const int maxFrameNum = 1 << m_splice.target.log2MaxFrameNum;
    const int window = std::min(m_splice.frames, m_splice.target.maxNumRefFrames + 1);
    QSet<int> expected { 1 }; // by distance in frame numbers before the key frame
    for (const auto &[index, slice] : m_recoveryFollowers.value(m_plan.copyFrom)) {
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
    if (int(expected.size()) >= m_splice.target.maxNumRefFrames)
        return false;
    for (const int distance : std::as_const(expected)) {
        if (distance > window)
            return false;
    }
    m_splice.unmark.clear();
    for (int distance = 2; distance <= window; ++distance) {
        if (!expected.contains(distance))
            m_splice.unmark << distance - 2;
    }
    m_splice.active = !m_splice.pps.isEmpty() && !m_splice.targetUnit.isEmpty();
    return m_splice.active;
}

bool CopyRun::setUpHevcSets(const EdgeEncoder &edge, EdgeSets *sets, const EdgeSets *other)
{
    // Ids the source (and the other edge) use.
    QSet<int> used[3];
    QList<QByteArray> taken = sourceParameterSets() + m_inBandSets;
    if (other)
        taken += other->units;
    for (const QByteArray &u : std::as_const(taken)) {
        const int type = NalUnits::hevcType(u);
        if (type >= NalUnits::HevcVps && type <= NalUnits::HevcPps)
            used[type - NalUnits::HevcVps] << NalRewrite::hevcParameterSetId(u);
    }
    QByteArray vps, sps, pps;
    for (const QByteArray &u : NalUnits::split(edge.extradata(), 0)) {
        switch (NalUnits::hevcType(u)) {
        case NalUnits::HevcVps:
            vps = u;
            break;
        case NalUnits::HevcSps:
            sps = u;
            break;
        case NalUnits::HevcPps:
            pps = u;
            break;
        default:
            break;
        }
    }
    const auto firstFree = [](const QSet<int> &ids, const QList<int> &candidates) {
        for (const int id : candidates) {
            if (!ids.contains(id))
                return id;
        }
        return -1;
    };
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
    for (const QByteArray &u : std::as_const(sets->units)) {
        if (u.isEmpty())
            return false;
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
                                "so it cannot be cut to the frame there; a copy that starts on a "
                                "key frame (Exact cut off, or --keyframe-copy) still works")
                     .arg(FormatTimeCode(
                         std::max(0.0, m_reader.toSeconds(encoder.damagedAt(), m_video))));
    return false;
}

QByteArray CopyRun::edgePacket(bool head, int index, const QByteArray &data) const
{
    const auto modulo
        = [](qint64 v, int bits) { return int(((v % (1 << bits)) + (1 << bits)) % (1 << bits)); };
    if (m_codec == AV_CODEC_ID_H264 && head && m_splice.active) {
        // Numbered so that the copied key frame continues the head: frame numbers up to the
        // one before its own, picture order counts below its own.
        const NalRewrite::H264Sps &target = m_splice.target;
        const int frameNum = modulo(qint64(m_splice.keyFrameNum) - m_splice.frames + index,
                                    target.log2MaxFrameNum);
        const int pocLsb = modulo(qint64(m_splice.keyPocLsb) - 2 * qint64(m_splice.frames - index),
                                  target.log2MaxPocLsb);
        QList<QByteArray> units;
        if (index == 0) {
            if (m_writer.configInStream())
                units << (m_splice.raisedUnit.isEmpty() ? m_splice.targetUnit : m_splice.raisedUnit)
                      << m_splice.pps;
            units << NalRewrite::h264RecoveryPoint();
        }
        for (const QByteArray &u : NalUnits::split(data, 0)) {
            const int type = NalUnits::h264Type(u);
            if (type != 1 && type != NalUnits::H264Idr)
                continue; // the encoder's own parameter sets and messages
            const QByteArray slice = NalRewrite::rewriteH264Slice(
                u, m_splice.encoderSps, m_splice.encoderPps, target, m_splice.ppsId, frameNum,
                pocLsb, index + 1 == m_splice.frames ? m_splice.unmark : QList<int>());
            if (slice.isEmpty())
                return {};
            units << slice;
        }
        return NalUnits::join(units, 0);
    }
    if (m_codec == AV_CODEC_ID_HEVC) {
        const EdgeSets &sets = head ? m_headSets : m_tailSets;
        QList<QByteArray> units;
        if (index == 0 && m_writer.configInStream())
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
    return data;
}

bool CopyRun::writeEdge(EdgeEncoder &encoder, bool final, bool beforeCopy, QString *error)
{
    if (final && !encoder.finish(error))
        return edgeFailed(encoder, error);
    const bool head = m_head && &encoder == &*m_head;
    if (final && head && m_splice.active && encoder.framesEncoded() != m_splice.frames) {
        *error = QStringLiteral("The frames before the first copied key frame could not all be "
                                "re-encoded.");
        return false;
    }
    // The last packet stays with the encoder until the end: HEVC ends the sequence in it.
    std::vector<AvPacketPtr> packets = encoder.takePackets(!final);
    for (size_t i = 0; i < packets.size(); ++i) {
        AVPacket *p = packets[i].get();
        QByteArray data = edgePacket(head, head ? m_headPackets++ : m_tailPackets++, bytesOf(p));
        if (data.isEmpty()) {
            *error = QStringLiteral("The re-encoded frames could not be joined to the copied "
                                    "ones.");
            return false;
        }
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
    // In containers whose decoder configuration travels in the stream, the first copied frame
    // brings the source's parameter sets (elsewhere the decoder configuration holds them with
    // the re-encoded frames', under other ids).
    if (first && m_writer.configInStream() && needsParameterSets(copy.get())) {
        const QByteArray sets = m_codec == AV_CODEC_ID_MPEG2VIDEO
            ? extradataOf(m_reader.videoStream()->codecpar)
            : NalUnits::join(sourceParameterSets(), m_writer.nalLengthSize());
        if (!replaceData(copy.get(), sets + bytesOf(copy.get()))) {
            *error = QStringLiteral("Out of memory.");
            return false;
        }
    }
    // A head that leads into an open-GOP key frame under a higher level: the source's SPS
    // declares that level wherever the copy carries it, up to the next IDR.
    if (m_raising && !first && m_reader.isCleanStart(packet))
        m_raising = false;
    if (m_raising) {
        QList<QByteArray> units = NalUnits::split(bytesOf(copy.get()), m_writer.nalLengthSize());
        bool changed = false;
        for (QByteArray &u : units) {
            if (u == m_splice.targetUnit) {
                u = m_splice.raisedUnit;
                changed = true;
            }
        }
        if (changed && !replaceData(copy.get(), NalUnits::join(units, m_writer.nalLengthSize()))) {
            *error = QStringLiteral("Out of memory.");
            return false;
        }
    }
    m_waiting.push_back(std::move(copy));
    return !m_headDone || writeWaiting(error);
}

bool CopyRun::inOrder(qint64 t, qint64 *latest) const
{
    if (t == AV_NOPTS_VALUE)
        return true;
    const qint64 slack = av_rescale_q(qint64(kBackwardsSeconds * AV_TIME_BASE), AV_TIME_BASE_Q,
                                      m_reader.videoStream()->time_base);
    if (*latest != std::numeric_limits<qint64>::min() && t < *latest - slack)
        return false;
    *latest = std::max(*latest, t);
    return true;
}

bool CopyRun::handleVideo(AVPacket *packet, QString *error)
{
    if (!inOrder(SourceReader::packetTime(packet), &m_videoLatest))
        return true;
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
        *error = QStringLiteral("The source read differently the second time through, as if "
                                "another program were changing it");
        return false;
    }
    if (m_head && i >= m_plan.head.decodeFrom && i <= m_plan.head.decodeTo && !m_headDone) {
        // The head comes first in the output: its frames are written as they are encoded.
        if (!m_head->feed(packet, error))
            return edgeFailed(*m_head, error);
        if (!writeEdge(*m_head, false, false, error))
            return false;
    }
    if (!m_tailDone && i >= m_plan.tail.decodeFrom && i <= m_plan.tail.decodeTo) {
        if (!m_tail && !openTail(error))
            return false;
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
        closeEdge(m_head);
        if (!writeWaiting(error))
            return false;
    }
    if (m_tail && !m_tailDone && i == m_plan.tail.decodeTo) {
        m_tailDone = true;
        if (!writeEdge(*m_tail, true, false, error))
            return false;
        closeEdge(m_tail);
    }
    return true;
}

bool CopyRun::openTail(QString *error)
{
    m_tail.emplace();
    if (!m_tail->open(m_reader.videoStream(), m_tailOptions, error))
        return false;
    m_tail->setRange(m_plan.tail.fromPts, m_plan.tail.toPts);
    m_tail->setCancel(&m_cancel);
    // The output declares the parameter sets of the first opening.
    if (m_tail->extradata() != m_tailExtradata) {
        *error = QStringLiteral("The video encoder set up the frames at the end differently.");
        return false;
    }
    return true;
}

void CopyRun::closeEdge(std::optional<EdgeEncoder> &edge)
{
    if (edge) {
        m_encodedDone += edge->framesEncoded();
        edge.reset();
    }
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
                > (!m_toTheEnd ? m_reader.toStreamTime(m_endSeconds, s) : kNever))
            packet->duration = (!m_toTheEnd ? m_reader.toStreamTime(m_endSeconds, s) : kNever)
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

// A demuxer that assembles audio frames from PES packets (MPEG-PS, -TS) gives a frame that
// straddles two of them the time of the second, which belongs to the first frame that starts in
// it: two frames claim one time and the time before it is missing, which muxers refuse or
// players skip. So each audio packet waits for the next one of its stream, and one whose
// successor claims its time (or an earlier one) takes the time where the packet before it ends.
bool CopyRun::handleAudio(const AVPacket *packet, QString *error)
{
    AvPacketPtr next(av_packet_clone(packet));
    if (!next) {
        *error = QStringLiteral("Out of memory.");
        return false;
    }
    AvPacketPtr held = std::exchange(m_heldAudio[size_t(packet->stream_index)], std::move(next));
    return !held
        || releaseAudio(held.get(), m_heldAudio[size_t(packet->stream_index)].get(), error);
}

bool CopyRun::releaseAudio(AVPacket *held, const AVPacket *next, QString *error)
{
    const size_t s = size_t(held->stream_index);
    if (next && held->pts != AV_NOPTS_VALUE && next->pts != AV_NOPTS_VALUE
        && next->pts <= held->pts) {
        qint64 pts = held->pts;
        if (m_audioEnd[s] != AV_NOPTS_VALUE)
            pts = m_audioEnd[s];
        else if (held->duration > 0)
            pts = next->pts - held->duration;
        if (pts < held->pts) {
            if (held->dts != AV_NOPTS_VALUE)
                held->dts -= held->pts - pts;
            held->pts = pts;
        }
    }
    if (held->pts != AV_NOPTS_VALUE)
        m_audioEnd[s] = held->pts + held->duration;
    return handleOther(held, error);
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
        const AVMediaType type = in->streams[s]->codecpar->codec_type;
        const bool ok = s == m_video     ? handleVideo(packet.get(), error)
            : type == AVMEDIA_TYPE_AUDIO ? handleAudio(packet.get(), error)
                                         : handleOther(packet.get(), error);
        av_packet_unref(packet.get());
        if (!ok)
            return false;
        if (m_video >= 0) {
            // Each frame encoded anew weighs as much as its picture's bytes: the edges take
            // most of the time.
            const qint64 encoded = m_encodedDone + (m_head ? m_head->framesEncoded() : 0)
                + (m_tail ? m_tail->framesEncoded() : 0);
            report(0.1 + 0.9 * double(m_doneBytes + m_frameWeight * encoded) / double(total));
        } else if (!m_toTheEnd && m_job.lengthSeconds > 0 && t != AV_NOPTS_VALUE)
            report((m_reader.toSeconds(t, s) - m_job.startSeconds) / m_job.lengthSeconds);
    }
    if (m_reader.readFailed()) {
        *error = QStringLiteral("The source could not be read to the end of the range.");
        return false;
    }
    for (AvPacketPtr &held : m_heldAudio) {
        if (held && !releaseAudio(held.get(), nullptr, error))
            return false;
        held.reset();
    }
    // A file cut short (a download or recording that did not finish) ends before the range
    // its header promises: a much shorter copy is a failure, not a saved cut.
    if (!pastEnd && !m_toTheEnd && reached < m_endSeconds - kShortfallSeconds) {
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
        closeEdge(m_head);
    }
    if (!writeWaiting(error))
        return false;
    if (!m_tailDone) {
        m_tailDone = true;
        if (!m_tail && !openTail(error))
            return false;
        if (!writeEdge(*m_tail, true, false, error))
            return false;
        closeEdge(m_tail);
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
    if (start.exact) {
        if (start.reencodedSeconds <= kLongHeadSeconds)
            return QString();
        const QString seconds = QString::number(start.reencodedSeconds, 'f', 1);
        if (start.copiedFromSeconds >= 0)
            return QStringLiteral(
                       "The exact cut re-encodes %1 s at the start: the video has no key "
                       "frame that copied frames can follow before %2.")
                .arg(seconds, FormatTimeCode(start.copiedFromSeconds));
        if (start.reencodedBeyond)
            return QStringLiteral("The exact cut re-encodes more than %1 s at the start: the video "
                                  "has no key frame that copied frames can follow in that time.")
                .arg(seconds);
        return QStringLiteral("The exact cut re-encodes %1 s, the whole range: the video has no "
                              "key frame in it that copied frames can follow.")
            .arg(seconds);
    }
    QString line = QStringLiteral("The copy starts at %1, on the key frame at or before the "
                                  "start mark")
                       .arg(FormatTimeCode(start.startSeconds));
    if (!start.reason.isEmpty())
        line += QStringLiteral(" (no exact cut: %1)").arg(start.reason);
    return line + QLatin1Char('.');
}

CopyStart PredictCopyStart(const QString &path, double startSeconds, bool exactWanted,
                           double endSeconds)
{
    av_log_set_level(AV_LOG_QUIET);
    StreamCopyJob job;
    job.inputPath = path;
    job.startSeconds = std::isfinite(startSeconds) ? std::clamp(startSeconds, 0.0, kMaxSeconds) : 0;
    job.lengthSeconds = std::isfinite(endSeconds) && endSeconds > job.startSeconds
        ? std::min(endSeconds - job.startSeconds, kMaxSeconds)
        : -1;
    job.exact = exactWanted;
    const std::atomic<bool> cancel { false };
    const StreamCopy::Progress none;
    QStringList notes;
    CopyRun run(job, cancel, none, notes);
    return run.predict();
}
