#include "streamcopy.h"

#include "copysource.h"
#include "cutplanner.h"
#include "cutwriter.h"
#include "edgeencoder.h"
#include "edgesetup.h"
#include "exactcodecs.h"
#include "nalrewrite.h"
#include "nalunits.h"
#include "packetcopy.h"
#include "timecode.h"
#include "videoscan.h"

#include <QMap>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

// A head this long is worth a note: the source's key frames are far apart.
constexpr double kLongHeadSeconds = 2.0;
// Open-GOP key frames tried, one after the other, before a copy is planned on IDRs only.
constexpr int kSpliceAttempts = 4;
// Marks beyond this (about three years) are no media time; they are held here so that no
// timestamp arithmetic can overflow.
constexpr double kMaxSeconds = 1e8;

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
    const QByteArray extra = ExtradataOf(par);
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

// Why this source cannot be cut exactly; "" when it can.
QString exactObstacle(SourceReader &reader)
{
    const AVStream *video = reader.videoStream();
    if (!video)
        return QString();
    const AVCodecParameters *par = video->codecpar;
    const QString container = QString::fromLatin1(reader.context()->iformat->name);
    const QString family = container.section(QLatin1Char(','), 0, 0);
    if (QString reason = ExactCodecs::obstacle(reader); !reason.isEmpty())
        return reason;
    const QByteArray extra = ExtradataOf(par);
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

// The streams the writer left out, one note each.
void noteLeftOut(const CutWriter &writer, CopyNotes &notes)
{
    for (const QString &stream : writer.leftOut())
        notes << CopyNote {
            CopyNote::Kind::StreamLeftOut,
            QStringLiteral("Left out (the container cannot carry it): %1.").arg(stream)
        };
}

// One run of a copy: it opens the source, plans the video on a look at the range, sets up the
// edges, and hands the packets to the packet copy.
class CopyRun
{
public:
    CopyRun(const StreamCopyJob &job, const std::atomic<bool> &cancel,
            const StreamCopy::Progress &progress, CopyNotes &notes, CutWriter &writer)
        : m_job(job)
        , m_cancel(cancel)
        , m_notes(notes)
        , m_writer(writer)
        , m_progress(progress, m_writer)
        , m_scan(m_source, cancel, m_progress)
    {
    }

    Outcome run();
    // The two halves of run(), for a copy that joins several ranges into one writer: the look
    // at the range and the edges, then the packets.
    Outcome prepare();
    Outcome copyPackets();
    CopySource &source() { return m_source; }
    const VideoEdges &edges() const { return m_edges; }
    const CutWriter::VideoOverride &videoOverride() const { return m_video; }
    qint64 zeroMicros() const { return m_zeroMicros; }
    // How long the piece's picture lasts, from its first frame to the end of its last, once
    // trimToVideo() knows it; -1 otherwise.
    qint64 lengthMicros() const
    {
        return m_videoEndMicros > m_zeroMicros ? m_videoEndMicros - m_zeroMicros : -1;
    }
    // Cuts the other streams where the video shown begins and ends instead of at the marks, so
    // that pieces joined one after the other keep picture and sound together.
    void trimToVideo();
    // prepare() and trimToVideo(), and where the piece then lies in the source.
    Outcome savedRange(CopyRange *range);
    // Where the copy of the job would start, and how much of it would be re-encoded, from a
    // look at the start of the range only.
    CopyStart predict();

private:
    Outcome open();
    void setMarks();
    Outcome planVideo();
    // Plans again without each open-GOP key frame the re-encoded frames cannot lead into
    // (after a few, with IDRs only).
    Outcome planEdges(CutWriter::VideoOverride *video);
    void noteStart();
    Outcome openWriter(const CutWriter::VideoOverride &video, qint64 zeroMicros);
    // The presentation time of the last video frame the piece shows (AV_NOPTS_VALUE: none).
    qint64 lastShownPts() const;
    // A copy that is not exact, of a piece that follows another, begins on a clean H.264 key
    // frame (see planVideo()).
    bool cleanStart() const
    {
        return !m_source.exact && m_source.afterOtherPiece && m_source.codec == AV_CODEC_ID_H264;
    }
    const QList<CutFrame> &frames() const { return m_scan.result().frames; }

    const StreamCopyJob &m_job;
    const std::atomic<bool> &m_cancel;
    CopyNotes &m_notes;

    CopySource m_source;
    CutWriter &m_writer;
    CopyProgress m_progress;
    CutWriter::VideoOverride m_video;
    qint64 m_zeroMicros = 0;
    qint64 m_videoEndMicros = -1;
    qint64 m_frameWeight = 0;
    VideoScan m_scan;
    VideoScan::Settings m_scanSettings;
    CutPlan m_plan;
    VideoEdges m_edges;
    QString m_obstacle;
    double m_audioFrom = 0; // seconds: audio frames whose middle is in [from, to) are kept
};

void CopyRun::setMarks()
{
    AVFormatContext *in = m_source.reader.context();
    m_source.startSeconds = m_job.startSeconds;
    m_source.lengthSeconds = m_job.lengthSeconds;
    // An end at or past the end of the file (as its container gives it) takes the range to the
    // end: the duration a container declares may end where its last frame starts.
    const double duration = in->duration != AV_NOPTS_VALUE && in->duration > 0
        ? double(in->duration) / AV_TIME_BASE
        : -1;
    m_source.toTheEnd = m_job.lengthSeconds < 0
        || (duration > 0 && m_job.startSeconds + m_job.lengthSeconds >= duration - 1e-6);
    if (!m_source.toTheEnd)
        m_source.endSeconds = m_job.startSeconds + m_job.lengthSeconds;
}

Outcome CopyRun::open()
{
    SourceReader &reader = m_source.reader;
    if (Outcome opened = reader.open(m_job.inputPath); !opened)
        return opened;
    m_source.video = reader.videoIndex();
    // A video left out by the choice of streams is read past like any stream not kept: no
    // edge of it is encoded, nothing is said of it, and the other streams are cut at the marks.
    if (!m_job.streams.isEmpty() && !m_job.streams.contains(m_source.video))
        m_source.video = -1;
    setMarks();
    m_source.exact = m_job.exact;
    if (const QString defect = sourceDefect(reader); !defect.isEmpty())
        return Error { ErrorCode::SourceDamaged, defect };
    if (m_source.video >= 0) {
        m_source.codec = reader.videoStream()->codecpar->codec_id;
        m_source.startTs = reader.toStreamTime(m_job.startSeconds, m_source.video);
        if (!m_source.toTheEnd)
            m_source.endTs = reader.toStreamTime(m_source.endSeconds, m_source.video);
        m_obstacle = exactObstacle(reader);
        if (!m_obstacle.isEmpty())
            m_source.exact = false;
        // A copy may begin on an H.264 open-GOP key frame when re-encoded frames can be made
        // to follow the source's sequence parameter set.
        // Not in a piece that follows another in a joined output: the re-encoded frames before
        // such a key frame are numbered to continue into it, which the pictures of the piece
        // before would contradict; that piece's copy begins on an IDR.
        if (m_source.exact && m_source.codec == AV_CODEC_ID_H264 && !m_source.afterOtherPiece) {
            for (const QByteArray &u : m_source.parameterSets())
                m_scanSettings.spliceRecovery
                    = m_scanSettings.spliceRecovery || usableSpliceTarget(u);
        }
    }
    return reader.findEntry(m_job.startSeconds, cleanStart());
}

Outcome CopyRun::planEdges(CutWriter::VideoOverride *video)
{
    if (Outcome planned = planVideo(); !planned)
        return planned;
    for (;;) {
        *video = CutWriter::VideoOverride();
        EdgeSetup setup(m_source, m_scan.result(), m_plan, m_cancel, m_notes);
        const Result<EdgeSetup::State> state = setup.setUp(&m_edges, video);
        if (!state)
            return state.error();
        if (state.value() == EdgeSetup::State::Ready)
            return {};
        // Only a plan with an open-GOP splice is refused; the next one does without it.
        m_scanSettings.refusedKeys << frames().at(m_plan.copyFrom).pts;
        if (m_scanSettings.refusedKeys.size() >= kSpliceAttempts)
            m_scanSettings.spliceRecovery = false;
        if (Outcome planned = planVideo(); !planned)
            return planned;
    }
}

// The notes on where the output starts: a long re-encoded head, or a start on a key frame.
void CopyRun::noteStart()
{
    const int video = m_source.video;
    const SourceReader &reader = m_source.reader;
    // The head runs from the start mark to the first packet a copy can follow new frames
    // with: an IDR, or an H.264 recovery point; everything before it is re-encoded.
    const qint64 latest = m_scan.result().latestPts(m_plan.zeroPts);
    const double headSeconds = m_plan.head.active()
        ? (m_plan.copyFrom >= 0
               ? reader.toSeconds(frames().at(m_plan.copyFrom).pts, video)
               : (m_source.toTheEnd ? reader.toSeconds(latest, video) : m_source.endSeconds))
            - m_job.startSeconds
        : 0.0;
    if (m_source.exact && headSeconds > kLongHeadSeconds)
        m_notes << CopyNote { CopyNote::Kind::StartReencoded,
                              QStringLiteral("Re-encoded %1 s at the start: the video has no key "
                                             "frame that copied frames can follow until then.")
                                  .arg(headSeconds, 0, 'f', 1) };
    if (!m_source.exact && m_plan.zeroPts < m_source.startTs)
        m_notes << CopyNote { CopyNote::Kind::KeyFrameStart,
                              QStringLiteral("The copy starts on the key frame at %1 s.")
                                  .arg(reader.toSeconds(m_plan.zeroPts, video), 0, 'f', 3) };
}

Outcome CopyRun::openWriter(const CutWriter::VideoOverride &video, qint64 zeroMicros)
{
    AVFormatContext *in = m_source.reader.context();
    const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
    const qint64 endMicros = !m_source.toTheEnd
        ? start + qint64(std::llround(m_source.endSeconds * AV_TIME_BASE))
        : std::numeric_limits<qint64>::max() / 2;
    if (Outcome opened = m_writer.open(m_job.outputPath, in, video, zeroMicros, endMicros); !opened)
        return opened;
    noteLeftOut(m_writer, m_notes);
    return {};
}

Outcome CopyRun::prepare()
{
    if (Outcome opened = open(); !opened)
        return opened;
    AVFormatContext *in = m_source.reader.context();
    const int videoIndex = m_source.video;
    if (videoIndex >= 0 && m_job.exact && !m_obstacle.isEmpty())
        m_notes << CopyNote { CopyNote::Kind::NotExact,
                              QStringLiteral("Not cut to the frame: %1.").arg(m_obstacle) };
    if (videoIndex >= 0) {
        if (Outcome planned = planEdges(&m_video); !planned)
            return planned;
        const AVStream *st = in->streams[videoIndex];
        m_zeroMicros = av_rescale_q(m_plan.zeroPts, st->time_base, AV_TIME_BASE_Q);
        m_audioFrom = m_source.exact ? m_job.startSeconds
                                     : m_source.reader.toSeconds(m_plan.zeroPts, videoIndex);
        noteStart();
        m_frameWeight = qint64(st->codecpar->width) * st->codecpar->height * 4;
    } else {
        m_audioFrom = m_job.startSeconds;
        const qint64 start = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
        m_zeroMicros = start + qint64(std::llround(m_job.startSeconds * AV_TIME_BASE));
    }
    return {};
}

void CopyRun::trimToVideo()
{
    const int video = m_source.video;
    if (video < 0)
        return;
    const SourceReader &reader = m_source.reader;
    m_audioFrom = reader.toSeconds(m_plan.zeroPts, video);
    if (m_source.toTheEnd)
        return;
    const qint64 last = lastShownPts();
    const AVStream *st = reader.videoStream();
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (last == AV_NOPTS_VALUE || rate.num <= 0 || rate.den <= 0)
        return;
    const qint64 end = last + av_rescale_q(1, av_inv_q(rate), st->time_base);
    m_source.endSeconds = reader.toSeconds(end, video);
    m_videoEndMicros = av_rescale_q(end, st->time_base, AV_TIME_BASE_Q);
}

qint64 CopyRun::lastShownPts() const
{
    // A copy that is not exact ends with the last frame it copies: frames before the end that
    // need one after it are not shown.
    qint64 last = AV_NOPTS_VALUE;
    const QList<CutFrame> &all = frames();
    for (int i = 0; i < int(all.size()); ++i) {
        const CutFrame &f = all.at(i);
        const bool shown = m_source.exact ? f.pts < m_source.endTs : m_plan.copies(i);
        if (shown && i != m_scan.result().gapIndex && (last == AV_NOPTS_VALUE || f.pts > last))
            last = f.pts;
    }
    return last;
}

Outcome CopyRun::savedRange(CopyRange *range)
{
    if (Outcome prepared = prepare(); !prepared)
        return prepared;
    trimToVideo();
    if (m_source.video < 0)
        return {};
    range->startSeconds = std::max(0.0, m_source.reader.toSeconds(m_plan.zeroPts, m_source.video));
    range->lengthSeconds = m_source.toTheEnd ? -1 : m_source.endSeconds - range->startSeconds;
    return {};
}

Outcome CopyRun::copyPackets()
{
    PacketCopy copy(m_source, m_writer, m_progress, m_cancel,
                    { m_scan.result(), m_plan, m_edges, m_audioFrom, m_frameWeight });
    if (Outcome copied = copy.run(); !copied)
        return copied;
    if (!m_edges.av1Differences.isEmpty()) {
        const CopyNote note { CopyNote::Kind::HeaderRepeated,
                              QStringLiteral("The re-encoded frames carry an AV1 sequence header "
                                             "of their own (it differs from the source's in %1); "
                                             "the copied frames after them bring the source's "
                                             "back.")
                                  .arg(m_edges.av1Differences.join(QStringLiteral(", "))) };
        if (std::none_of(m_notes.begin(), m_notes.end(),
                         [&note](const CopyNote &n) { return n.text == note.text; }))
            m_notes << note;
    }
    m_progress.report(1.0, true);
    return {};
}

Outcome CopyRun::run()
{
    if (Outcome prepared = prepare(); !prepared)
        return prepared;
    if (Outcome opened = openWriter(m_video, m_zeroMicros); !opened)
        return opened;
    if (Outcome copied = copyPackets(); !copied)
        return copied;
    return m_writer.finish();
}

CopyStart CopyRun::predict()
{
    CopyStart result;
    result.startSeconds = m_job.startSeconds;
    result.exact = true; // nothing to say: no video, or the run will report the error
    m_scanSettings.quiet = true;
    if (!open() || m_source.video < 0)
        return result;
    result.reason = m_job.exact ? m_obstacle : QString();
    result.exact = m_source.exact;
    if (!m_scan.run(false, true, m_scanSettings))
        return result;
    const CutPlan plan = PlanCut(frames(), m_source.startTs, m_source.endTs, m_source.exact);
    if (!plan.ok)
        return result;
    const SourceReader &reader = m_source.reader;
    if (!m_source.exact) {
        result.startSeconds = std::max(0.0, reader.toSeconds(plan.zeroPts, m_source.video));
        return result;
    }
    if (plan.copyFrom >= 0) {
        result.copiedFromSeconds = reader.toSeconds(frames().at(plan.copyFrom).pts, m_source.video);
        result.reencodedSeconds = result.copiedFromSeconds - m_job.startSeconds;
    } else {
        // Nothing in what was read can be copied: up to the end of the range, or further
        // than the look reached.
        const qint64 latest = m_scan.result().latestPts(m_source.startTs);
        const bool whole = m_source.endTs != kNeverTs && latest >= m_source.endTs;
        result.reencodedSeconds = whole
            ? m_source.endSeconds - m_job.startSeconds
            : reader.toSeconds(latest, m_source.video) - m_job.startSeconds;
        result.reencodedBeyond = !whole;
    }
    return result;
}

Outcome CopyRun::planVideo()
{
    if (Outcome scanned = m_scan.run(true, false, m_scanSettings); !scanned)
        return scanned;
    const ScanResult &scan = m_scan.result();
    // A piece that follows another: a decoder reaches its first frame with the pictures of the
    // piece before still held, and an H.264 open-GOP key frame would number its pictures on
    // from them (out of order); the copy begins on a clean key frame instead.
    const bool cleanStart
        = !m_source.exact && m_source.afterOtherPiece && m_source.codec == AV_CODEC_ID_H264;
    m_plan = PlanCut(scan.frames, m_source.startTs, m_source.endTs, m_source.exact, cleanStart);
    // The packets between the windows must all be copied, and no edge may need them decoded;
    // otherwise the range is looked at whole.
    const CutPlan::Edge &head = m_plan.head;
    const CutPlan::Edge &tail = m_plan.tail;
    const int gap = scan.gapIndex;
    if (gap >= 0
        && (!m_plan.ok || !m_plan.copies(gap) || (head.active() && head.decodeTo >= gap)
            || (tail.active() && tail.decodeFrom <= gap))) {
        if (Outcome scanned = m_scan.run(false, false, m_scanSettings); !scanned)
            return scanned;
        m_plan = PlanCut(m_scan.result().frames, m_source.startTs, m_source.endTs, m_source.exact,
                         cleanStart);
    }
    if (!m_plan.ok)
        return Error { ErrorCode::NotPossible, m_plan.error };
    return {};
}

// The parameter sets a piece's new frames stand under in the output.
QList<QByteArray> edgeParameterSets(const CopyRun &run, AVCodecID codec)
{
    const VideoEdges &edges = run.edges();
    if (codec == AV_CODEC_ID_HEVC)
        return edges.headSets.units + edges.tailSets.units;
    QList<QByteArray> units;
    if (codec != AV_CODEC_ID_H264)
        return units;
    if (edges.head)
        units += NalUnits::split(edges.head->extradata(), 0);
    units += NalUnits::split(edges.tailExtradata, 0);
    if (edges.splice.active)
        units << edges.splice.pps << edges.splice.targetUnit << edges.splice.raisedUnit;
    return units;
}

// One avcC for every piece: each id with one set. A piece whose head declares the source's
// SPS at a higher level has that SPS stand for all pieces (only the level differs).
bool mergeAvcConfigs(const QList<QByteArray> &records, QByteArray *merged)
{
    NalUnits::AvcConfig all;
    QMap<int, QByteArray> spss, ppss;
    int level = 0;
    for (const QByteArray &record : records) {
        const NalUnits::AvcConfig c = NalUnits::parseAvcConfig(record);
        if (!c.ok || c.head.size() < 4)
            return false;
        if (!all.ok)
            all = c;
        level = std::max(level, int(uchar(c.head.at(3))));
        for (const QByteArray &u : c.sps) {
            const int id = NalUnits::h264SpsId(u);
            QByteArray &kept = spss[id];
            if (kept.isEmpty()
                || (kept != u && u.size() == kept.size() && u.size() > 3
                    && uchar(u.at(3)) > uchar(kept.at(3)) && u.mid(4) == kept.mid(4)
                    && u.left(3) == kept.left(3)))
                kept = u;
            else if (kept != u && !(u.mid(4) == kept.mid(4) && u.left(3) == kept.left(3)))
                return false;
        }
        for (const QByteArray &u : c.pps) {
            QByteArray &kept = ppss[NalUnits::h264PpsId(u)];
            if (!kept.isEmpty() && kept != u)
                return false;
            kept = u;
        }
    }
    all.sps = spss.values();
    all.pps = ppss.values();
    all.head[3] = char(level);
    *merged = NalUnits::buildAvcConfig(all);
    return true;
}

// The video declaration of a joined output: the decoder configuration holds the parameter
// sets of every piece's new frames beside the source's.
Outcome mergeVideoOverrides(const std::vector<std::unique_ptr<CopyRun>> &runs,
                            CutWriter::VideoOverride *merged)
{
    CopySource &first = runs.front()->source();
    *merged = runs.front()->videoOverride();
    if (first.video < 0)
        return {};
    const QByteArray source = ExtradataOf(first.reader.videoStream()->codecpar);
    if (!NalUnits::isConfigRecord(source))
        return {}; // the stream carries the sets (MPEG-TS, -PS)
    QList<QByteArray> records;
    QList<QByteArray> hevcUnits;
    int hevcLevel = first.reader.videoStream()->codecpar->level;
    for (const auto &run : runs) {
        const QByteArray extra = run->videoOverride().extradata;
        records << (extra.isEmpty() ? source : extra);
        hevcUnits += edgeParameterSets(*run, first.codec);
        if (!extra.isEmpty() && extra.size() > 12)
            hevcLevel = std::max(hevcLevel, int(uchar(extra.at(12))));
        if (run->videoOverride().codecTag)
            merged->codecTag = run->videoOverride().codecTag;
    }
    merged->inputIndex = first.video;
    bool ok = true;
    if (first.codec == AV_CODEC_ID_H264)
        ok = mergeAvcConfigs(records, &merged->extradata);
    else if (first.codec == AV_CODEC_ID_HEVC)
        merged->extradata = NalRewrite::hevcConfigWith(source, hevcUnits, hevcLevel);
    if (!ok)
        return Error { ErrorCode::NotPossible,
                       QStringLiteral("The re-encoded frames of the pieces cannot share one "
                                      "decoder configuration.") };
    return {};
}

// One chapter per piece of a joined output, titled as its range (else "Segment N"), from where
// the piece starts in the output to where the next one does (the last to `end`).
QList<CutWriter::Chapter> pieceChapters(const StreamCopyJob &job, const QList<qint64> &starts,
                                        qint64 end)
{
    QList<CutWriter::Chapter> chapters;
    for (qsizetype k = 0; k < starts.size() && k < job.ranges.size(); ++k) {
        const qint64 next = k + 1 < starts.size() ? starts.at(k + 1) : end;
        // MP4 leaves a chapter without title out of its chapter track, and then the track.
        const QString title = job.ranges.at(k).chapterTitle;
        chapters << CutWriter::Chapter { starts.at(k), std::max(starts.at(k), next),
                                         title.isEmpty() ? QStringLiteral("Segment %1").arg(k + 1)
                                                         : title };
    }
    return chapters;
}

// Where the pieces will start in the output, as far as their plans tell before the writing.
QList<qint64> plannedStarts(const StreamCopyJob &job,
                            const std::vector<std::unique_ptr<CopyRun>> &runs, qint64 *end)
{
    QList<qint64> starts;
    qint64 at = 0;
    for (size_t k = 0; k < runs.size(); ++k) {
        starts << at;
        const double seconds = job.ranges.at(qsizetype(k)).lengthSeconds;
        at += runs[k]->lengthMicros() >= 0 ? runs[k]->lengthMicros()
                                           : qint64(std::llround(std::max(0.0, seconds) * 1e6));
    }
    *end = at;
    return starts;
}

// The job of each range of a joined copy, and its progress as a share of the whole (by its
// length; a range to the end counts as one second).
std::vector<StreamCopyJob> pieceJobs(const StreamCopyJob &job, const StreamCopy::Progress &progress,
                                     std::vector<StreamCopy::Progress> &progresses)
{
    const qsizetype n = job.ranges.size();
    double total = 0;
    for (const CopyRange &r : job.ranges)
        total += r.lengthSeconds > 0 ? r.lengthSeconds : 1;
    std::vector<StreamCopyJob> jobs(static_cast<size_t>(n), job);
    progresses.assign(static_cast<size_t>(n), StreamCopy::Progress());
    double done = 0;
    for (qsizetype k = 0; k < n; ++k) {
        const CopyRange &r = job.ranges.at(k);
        StreamCopyJob &piece = jobs[size_t(k)];
        piece.ranges.clear();
        piece.startSeconds = r.startSeconds;
        piece.lengthSeconds = r.lengthSeconds;
        const double share = (r.lengthSeconds > 0 ? r.lengthSeconds : 1) / total;
        if (progress)
            progresses[size_t(k)] = [&progress, done, share](qint64 bytes, double fraction) {
                progress(bytes, done + fraction * share);
            };
        done += share;
    }
    return jobs;
}

// Plans each piece, its new frames under parameter set ids the pieces before it do not use.
Outcome preparePieces(std::vector<std::unique_ptr<CopyRun>> &runs)
{
    QList<QByteArray> reserved;
    for (size_t k = 0; k < runs.size(); ++k) {
        CopyRun &run = *runs[k];
        run.source().reservedSets = reserved;
        run.source().afterOtherPiece = k > 0;
        if (Outcome prepared = run.prepare(); !prepared)
            return prepared;
        run.trimToVideo();
        reserved += edgeParameterSets(run, run.source().codec);
    }
    return {};
}

// Writes the pieces one after the other: each begins where the picture of the one before
// ends (as the plan knows it: some containers leave the times of a few packets unknown), or
// where the writing ended. `starts` gets where each piece began, `end` where the last ended.
Outcome writePieces(const std::vector<std::unique_ptr<CopyRun>> &runs, CutWriter &writer,
                    QList<qint64> *starts, qint64 *end)
{
    qint64 offset = 0;
    for (const auto &run : runs) {
        *starts << offset;
        writer.setShift(run->zeroMicros(), offset);
        if (Outcome copied = run->copyPackets(); !copied)
            return copied;
        offset = run->lengthMicros() >= 0 ? offset + run->lengthMicros() : writer.endMicros();
    }
    *end = std::max(offset, writer.endMicros());
    return {};
}

// A copy that joins several ranges of one source, in the order given, into one output: each
// range is cut as a copy of its own would cut it (its edges re-encoded, the rest copied), its
// new frames under parameter set ids no other piece uses, and written one after the other
// into the one output, each piece starting where the picture of the one before ends.
Outcome RunJoinedCopy(const StreamCopyJob &job, const std::atomic<bool> &cancel,
                      const StreamCopy::Progress &progress, CopyNotes &notes)
{
    std::vector<StreamCopy::Progress> progresses;
    std::vector<StreamCopyJob> jobs = pieceJobs(job, progress, progresses);
    CutWriter writer;
    writer.keepOnly(job.streams);
    std::vector<std::unique_ptr<CopyRun>> runs;
    for (size_t k = 0; k < jobs.size(); ++k)
        runs.push_back(std::make_unique<CopyRun>(jobs[k], cancel, progresses[k], notes, writer));
    if (Outcome prepared = preparePieces(runs); !prepared)
        return prepared;
    CutWriter::VideoOverride video;
    if (Outcome merged = mergeVideoOverrides(runs, &video); !merged)
        return merged;
    // The source's chapters belong to its timeline, which the joined output does not follow:
    // the output has one chapter per piece.
    qint64 plannedEnd = 0;
    const QList<qint64> planned = plannedStarts(job, runs, &plannedEnd);
    writer.setChapters(pieceChapters(job, planned, plannedEnd));
    const qint64 zero = runs.front()->zeroMicros();
    if (Outcome opened
        = writer.open(job.outputPath, runs.front()->source().reader.context(), video, zero, zero);
        !opened)
        return opened;
    noteLeftOut(writer, notes);
    QList<qint64> starts;
    qint64 end = 0;
    if (Outcome written = writePieces(runs, writer, &starts, &end); !written)
        return written;
    writer.setChapters(pieceChapters(job, starts, end));
    return writer.finish();
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

Outcome StreamCopy::run(const std::atomic<bool> &cancel, const Progress &progress)
{
    m_notes.clear();
    if (m_job.ranges.size() > 1)
        return RunJoinedCopy(m_job, cancel, progress, m_notes);
    CutWriter writer;
    writer.keepOnly(m_job.streams);
    CopyRun copy(m_job, cancel, progress, m_notes, writer);
    return copy.run();
}

Result<QList<CopyRange>> PlanKeyFrameRanges(const QString &path, const QList<CopyRange> &ranges)
{
    QList<CopyRange> saved;
    const std::atomic<bool> cancel { false };
    const StreamCopy::Progress none;
    for (qsizetype k = 0; k < ranges.size(); ++k) {
        StreamCopyJob job;
        job.inputPath = path;
        job.exact = false;
        // The marks as StreamCopy takes them.
        job.startSeconds = std::isfinite(ranges.at(k).startSeconds)
            ? std::clamp(ranges.at(k).startSeconds, 0.0, kMaxSeconds)
            : 0;
        const double length = ranges.at(k).lengthSeconds;
        job.lengthSeconds
            = std::isfinite(length) && length >= 0 ? std::min(length, kMaxSeconds) : -1;
        CopyNotes notes;
        CutWriter writer;
        CopyRun run(job, cancel, none, notes, writer);
        run.source().afterOtherPiece = k > 0;
        CopyRange range = ranges.at(k);
        range.startSeconds = job.startSeconds;
        range.lengthSeconds = job.lengthSeconds;
        if (Outcome planned = run.savedRange(&range); !planned)
            return planned.error();
        saved << range;
    }
    return saved;
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
                           double endSeconds, const QList<int> &streams)
{
    StreamCopyJob job;
    job.inputPath = path;
    job.streams = streams;
    job.startSeconds = std::isfinite(startSeconds) ? std::clamp(startSeconds, 0.0, kMaxSeconds) : 0;
    job.lengthSeconds = std::isfinite(endSeconds) && endSeconds > job.startSeconds
        ? std::min(endSeconds - job.startSeconds, kMaxSeconds)
        : -1;
    job.exact = exactWanted;
    const std::atomic<bool> cancel { false };
    const StreamCopy::Progress none;
    CopyNotes notes;
    CutWriter writer;
    CopyRun run(job, cancel, none, notes, writer);
    return run.predict();
}
