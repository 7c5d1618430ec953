#include "segmentargs.h"

#include "timecode.h"

#include <QFile>

#include <cmath>

bool ParseSpan(const QString &option, const QString &text, Segment *segment, QString *error)
{
    const QStringList ends = text.trimmed().split(QLatin1Char('-'));
    double start = 0;
    double end = 0;
    if (ends.size() != 2 || !ReadTimeOrSeconds(ends.at(0), &start)
        || !ReadTimeOrSeconds(ends.at(1), &end) || !std::isfinite(start)) {
        *error = QStringLiteral("%1: \"%2\" is not START-END (two time codes or numbers of "
                                "seconds, for example 1:02:03.5-1:02:10 or 62.5-70)")
                     .arg(option, text.left(80));
        return false;
    }
    if (!(end > start)) {
        *error = QStringLiteral("%1 %2: the end must come after the start").arg(option, text);
        return false;
    }
    *segment = Segment { start, end, QString() };
    return true;
}

namespace {

bool readCsv(SegmentArgs *args, QString *error)
{
    QFile file(args->csvPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("--segments: cannot read %1 (%2)")
                     .arg(args->csvPath, file.errorString());
        return false;
    }
    QString csvError;
    const QList<Segment> read = SegmentsFromCsv(QString::fromUtf8(file.readAll()), &csvError);
    if (!csvError.isEmpty()) {
        *error = QStringLiteral("--segments: %1: %2").arg(args->csvPath, csvError);
        return false;
    }
    args->segments += read;
    return true;
}

} // namespace

bool ResolveSegments(SegmentArgs args, double duration, const QString &inputName, SegmentPlan *plan,
                     QString *error)
{
    if (args.keepGiven && args.removeGiven) {
        *error = QStringLiteral("--keep and --remove cannot be mixed: give the segments to keep, "
                                "or those to remove");
        return false;
    }
    if (!args.csvPath.isEmpty() && !readCsv(&args, error))
        return false;
    if (args.segments.isEmpty()) {
        *error = QStringLiteral("the segment list is empty");
        return false;
    }
    for (const Segment &s : std::as_const(args.segments)) {
        if (duration > 0 && s.start >= duration) {
            *error
                = QStringLiteral("the segment %1-%2 starts at or past the end of %3 (%4 s long)")
                      .arg(NumberText(s.start), NumberText(s.end), inputName, NumberText(duration));
            return false;
        }
    }
    *plan = PlanSegments(args.segments, args.use(), duration);
    if (plan->ranges.isEmpty()) {
        *error = QStringLiteral("removing these segments leaves nothing of %1").arg(inputName);
        return false;
    }
    return true;
}

QList<CutSpan> CutSpansOf(const QList<Segment> &ranges)
{
    QList<CutSpan> spans;
    for (const Segment &r : ranges)
        spans << CutSpan { r.start, r.end, r.label };
    return spans;
}
