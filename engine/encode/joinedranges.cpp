#include "joinedranges.h"

#include "avhandles.h"
#include "sourcereader.h"
#include "streamcopy.h"

#include <algorithm>
#include <cmath>

namespace {

// Video packets read from the start of the file to find its first frame: enough to see past
// the reordering of B-frames.
constexpr int kLeadingPackets = 16;

struct FrameGrid
{
    double first = 0; // seconds, as the player shows them
    double rate = 0; // frames a second; 0: unknown
    double duration = -1; // of the file; -1: unknown
};

FrameGrid readGrid(const QString &path)
{
    FrameGrid grid;
    SourceReader reader;
    if (!reader.open(path))
        return grid;
    const AVFormatContext *in = reader.context();
    if (in->duration != AV_NOPTS_VALUE && in->duration > 0)
        grid.duration = double(in->duration) / AV_TIME_BASE;
    const AVStream *st = reader.videoStream();
    if (!st)
        return grid;
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    AvPacketPtr packet(av_packet_alloc());
    double first = 1e300;
    for (int seen = 0; packet && seen < kLeadingPackets && reader.read(packet.get());) {
        if (packet->stream_index == reader.videoIndex()
            && SourceReader::packetTime(packet.get()) != AV_NOPTS_VALUE) {
            first = std::min(
                first,
                reader.toSeconds(SourceReader::packetTime(packet.get()), reader.videoIndex()));
            ++seen;
        }
        av_packet_unref(packet.get());
    }
    if (first < 1e300 && rate.num > 0 && rate.den > 0) {
        grid.first = first;
        grid.rate = av_q2d(rate);
    }
    return grid;
}

// The number of frames on the grid that start at or after `from` and before `to`.
qint64 framesBetween(const FrameGrid &grid, double from, double to)
{
    const auto firstAtOrAfter = [&grid](double t) {
        return std::max<qint64>(0, qint64(std::ceil((t - grid.first) * grid.rate - 1e-6)));
    };
    return std::max<qint64>(0, firstAtOrAfter(to) - firstAtOrAfter(from));
}

} // namespace

Result<QList<CutSpan>> KeyFrameRanges(const QString &path, const QList<CutSpan> &ranges)
{
    QList<CopyRange> asked;
    for (const CutSpan &span : ranges)
        asked << CopyRange { span.startSeconds, span.lengthSeconds(), QString() };
    const Result<QList<CopyRange>> planned = PlanKeyFrameRanges(path, asked);
    if (!planned)
        return planned.error();
    const QList<CopyRange> &saved = planned.value();
    const FrameGrid grid = readGrid(path);
    QList<CutSpan> spans;
    for (qsizetype k = 0; k < saved.size(); ++k) {
        const CopyRange &r = saved.at(k);
        double end
            = r.lengthSeconds >= 0 ? r.startSeconds + r.lengthSeconds : ranges.at(k).endSeconds;
        if (grid.duration > 0)
            end = std::min(end, grid.duration);
        spans << CutSpan { r.startSeconds, end, ranges.at(k).label };
    }
    return spans;
}

QString SavedRangeLine(const CutSpan &saved, qsizetype index)
{
    const QString label = saved.label.trimmed();
    return QStringLiteral("Segment %1%2: %3 to %4 (key frames)")
        .arg(index + 1)
        .arg(label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(label))
        .arg(QString::number(saved.startSeconds, 'f', 3),
             QString::number(saved.endSeconds, 'f', 3));
}

QList<double> ConvertedPieceStarts(const QString &path, const QList<CutSpan> &ranges, bool audio)
{
    const FrameGrid grid = readGrid(path);
    QList<double> starts;
    double at = 0;
    for (const CutSpan &span : ranges) {
        starts << at;
        const double end
            = grid.duration > 0 ? std::min(span.endSeconds, grid.duration) : span.endSeconds;
        const double sound = std::max(0.0, end - span.startSeconds);
        if (grid.rate <= 0) {
            at += sound;
            continue;
        }
        const double picture = double(framesBetween(grid, span.startSeconds, end)) / grid.rate;
        at += audio ? std::max(picture, sound) : picture;
    }
    starts << at;
    return starts;
}
