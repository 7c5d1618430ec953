#include "segmentargs.h"

#include "timecode.h"

#include <QFile>

#include <cmath>

Result<Segment> ParseSpan(const QString &option, const QString &text)
{
    const QStringList ends = text.trimmed().split(QLatin1Char('-'));
    double start = 0;
    double end = 0;
    if (ends.size() != 2 || !ReadTimeOrSeconds(ends.at(0), &start)
        || !ReadTimeOrSeconds(ends.at(1), &end) || !std::isfinite(start)) {
        return Error { ErrorCode::BadRequest,
                       QStringLiteral("%1: \"%2\" is not START-END (two time codes or numbers of "
                                      "seconds, for example 1:02:03.5-1:02:10 or 62.5-70)")
                           .arg(option, text.left(80)) };
    }
    if (!(end > start))
        return Error {
            ErrorCode::BadRequest,
            QStringLiteral("%1 %2: the end must come after the start").arg(option, text)
        };
    return Segment { start, end, QString() };
}

namespace {

Outcome readCsv(SegmentArgs *args)
{
    QFile file(args->csvPath);
    if (!file.open(QIODevice::ReadOnly))
        return Error {
            ErrorCode::SourceUnreadable,
            QStringLiteral("--segments: cannot read %1 (%2)").arg(args->csvPath, file.errorString())
        };
    const Result<QList<Segment>> read = SegmentsFromCsv(QString::fromUtf8(file.readAll()));
    if (!read)
        return Error {
            read.code(),
            QStringLiteral("--segments: %1: %2").arg(args->csvPath, read.error().sentence)
        };
    args->segments += read.value();
    return {};
}

} // namespace

Result<SegmentPlan> ResolveSegments(SegmentArgs args, double duration, const QString &inputName)
{
    if (args.keepGiven && args.removeGiven)
        return Error { ErrorCode::BadRequest,
                       QStringLiteral("--keep and --remove cannot be mixed: give the segments to "
                                      "keep, or those to remove") };
    if (!args.csvPath.isEmpty()) {
        if (Outcome read = readCsv(&args); !read)
            return read.error();
    }
    if (args.segments.isEmpty())
        return Error { ErrorCode::BadRequest, QStringLiteral("the segment list is empty") };
    for (const Segment &s : std::as_const(args.segments)) {
        if (duration > 0 && s.start >= duration)
            return Error {
                ErrorCode::NotPossible,
                QStringLiteral("the segment %1-%2 starts at or past the end of %3 (%4 s long)")
                    .arg(NumberText(s.start), NumberText(s.end), inputName, NumberText(duration))
            };
    }
    SegmentPlan plan = PlanSegments(args.segments, args.use(), duration);
    if (plan.ranges.isEmpty())
        return Error {
            ErrorCode::NotPossible,
            QStringLiteral("removing these segments leaves nothing of %1").arg(inputName)
        };
    return plan;
}

QList<CutSpan> CutSpansOf(const QList<Segment> &ranges)
{
    QList<CutSpan> spans;
    for (const Segment &r : ranges)
        spans << CutSpan { r.start, r.end, r.label };
    return spans;
}
