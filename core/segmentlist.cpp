#include "segmentlist.h"

#include "timecode.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', std::numeric_limits<double>::max_digits10);
}

// Groups of segments that overlap or touch: for each segment, the index of its group's first
// segment in list order.
QList<int> overlapGroups(const QList<Segment> &segments)
{
    QList<int> order(segments.size());
    for (int i = 0; i < segments.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return segments.at(a).start < segments.at(b).start; });
    QList<int> group(segments.size(), -1);
    int first = -1;
    double reach = -std::numeric_limits<double>::infinity();
    QList<int> members;
    auto close = [&] {
        for (const int m : members)
            group[m] = first;
        members.clear();
    };
    for (const int i : order) {
        if (segments.at(i).start > reach) {
            close();
            first = i;
            reach = segments.at(i).end;
        } else {
            first = std::min(first, i);
            reach = std::max(reach, segments.at(i).end);
        }
        members << i;
    }
    close();
    return group;
}

// The segments clipped to [0, duration], empty ones and those past the end dropped.
QList<Segment> clipped(const QList<Segment> &segments, double duration, QStringList *notes)
{
    QList<Segment> result;
    for (Segment s : segments) {
        const QString name = QStringLiteral("%1-%2").arg(secondsText(s.start), secondsText(s.end));
        s.start = std::max(0.0, s.start);
        if (duration > 0 && s.start >= duration) {
            *notes << QStringLiteral("The segment %1 starts at or past the end (%2 s); it is left "
                                     "out")
                          .arg(name, NumberText(duration));
            continue;
        }
        if (duration > 0 && s.end > duration) {
            *notes << QStringLiteral("The segment %1 ends past the end; it stops at the end (%2 s)")
                          .arg(name, NumberText(duration));
            s.end = duration;
        }
        if (!(s.end > s.start)) {
            *notes << QStringLiteral("The segment %1 is empty; it is left out").arg(name);
            continue;
        }
        result << s;
    }
    return result;
}

// Overlapping and touching segments as one each, at the place of the first of them.
QList<Segment> merged(const QList<Segment> &segments, QStringList *notes)
{
    const QList<int> group = overlapGroups(segments);
    QList<Segment> result;
    QList<int> resultGroup;
    for (int i = 0; i < segments.size(); ++i) {
        const qsizetype at = resultGroup.indexOf(group.at(i));
        if (at < 0) {
            result << segments.at(i);
            resultGroup << group.at(i);
            continue;
        }
        Segment &into = result[at];
        *notes << QStringLiteral("The segments %1-%2 and %3-%4 overlap or touch; they are joined "
                                 "into one")
                      .arg(secondsText(into.start), secondsText(into.end),
                           secondsText(segments.at(i).start), secondsText(segments.at(i).end));
        into.start = std::min(into.start, segments.at(i).start);
        into.end = std::max(into.end, segments.at(i).end);
    }
    return result;
}

// Everything of [0, duration] outside the segments, in time order.
QList<Segment> complement(QList<Segment> segments, double duration)
{
    std::sort(segments.begin(), segments.end(),
              [](const Segment &a, const Segment &b) { return a.start < b.start; });
    QList<Segment> result;
    double from = 0;
    for (const Segment &s : segments) {
        if (s.start > from)
            result << Segment { from, s.start, QString() };
        from = std::max(from, s.end);
    }
    const double end = duration > 0 ? duration : std::numeric_limits<double>::infinity();
    if (end > from)
        result << Segment { from, end, QString() };
    return result;
}

// One CSV record's fields; quoted fields may hold commas and doubled quotes. False for an
// unterminated quote.
bool splitCsvLine(const QString &line, QStringList *fields)
{
    fields->clear();
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            const bool doubled = c == QLatin1Char('"') && i + 1 < line.size()
                && line.at(i + 1) == QLatin1Char('"');
            if (doubled)
                ++i;
            if (c == QLatin1Char('"') && !doubled)
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            *fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    *fields << field;
    return !quoted;
}

// The records of a CSV text: lines, except that a line break inside quotes belongs to the
// field.
QStringList csvRecords(const QString &text)
{
    QStringList records;
    QString record;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r'))) {
            records << record;
            record.clear();
            continue;
        }
        record += c;
    }
    records << record;
    return records;
}

bool readSeconds(const QString &text, double *seconds)
{
    return ReadTimeOrSeconds(text, seconds) && std::isfinite(*seconds);
}

QString quotedField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString doubled = text;
    doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

} // namespace

SegmentPlan PlanSegments(const QList<Segment> &segments, SegmentUse use, double duration)
{
    SegmentPlan plan;
    const QList<Segment> kept = merged(clipped(segments, duration, &plan.notes), &plan.notes);
    plan.ranges = use == SegmentUse::Keep ? kept : complement(kept, duration);
    return plan;
}

QString SegmentsToCsv(const QList<Segment> &segments)
{
    QString text = QStringLiteral("start,end,label\n");
    for (const Segment &s : segments)
        text += secondsText(s.start) + QLatin1Char(',') + secondsText(s.end) + QLatin1Char(',')
            + quotedField(s.label) + QLatin1Char('\n');
    return text;
}

Result<QList<Segment>> SegmentsFromCsv(const QString &text)
{
    QList<Segment> result;
    const QStringList records = csvRecords(text);
    for (int i = 0; i < records.size(); ++i) {
        const QString &record = records.at(i);
        if (record.trimmed().isEmpty())
            continue;
        QStringList fields;
        Segment s;
        const bool good = splitCsvLine(record, &fields) && fields.size() >= 2 && fields.size() <= 3
            && readSeconds(fields.at(0), &s.start) && readSeconds(fields.at(1), &s.end);
        if (!good) {
            // A header line names the columns instead of giving times.
            if (result.isEmpty() && !record.contains(QRegularExpression(QStringLiteral("\\d"))))
                continue;
            return Error { ErrorCode::BadRequest,
                           QStringLiteral(
                               "Line %1 is not a segment (start,end,label in seconds): %2")
                               .arg(i + 1)
                               .arg(record.left(80)) };
        }
        if (fields.size() == 3)
            s.label = fields.at(2).trimmed();
        result << s;
    }
    return result;
}

void SegmentList::apply(State next)
{
    if (next == m_state)
        return;
    m_undo << m_state;
    m_redo.clear();
    m_state = std::move(next);
}

SegmentList::SegmentList(double startMark, double endMark)
{
    m_state.startMark = startMark;
    m_state.endMark = endMark;
}

bool SegmentList::addFromMarks()
{
    if (!(m_state.endMark > m_state.startMark))
        return false;
    State next = m_state;
    next.segments << Segment { m_state.startMark, m_state.endMark, QString() };
    next.selected = -1;
    apply(next);
    return true;
}

bool SegmentList::remove(int index)
{
    if (index < 0 || index >= m_state.segments.size())
        return false;
    State next = m_state;
    next.segments.removeAt(index);
    next.selected = next.segments.isEmpty() ? -1 : std::min<int>(index, next.segments.size() - 1);
    apply(next);
    return true;
}

bool SegmentList::move(int from, int to)
{
    const int n = int(m_state.segments.size());
    if (from < 0 || from >= n || to < 0 || to >= n || from == to)
        return false;
    State next = m_state;
    next.segments.move(from, to);
    if (next.selected == from)
        next.selected = to;
    else if (from < next.selected && next.selected <= to)
        --next.selected;
    else if (to <= next.selected && next.selected < from)
        ++next.selected;
    apply(next);
    return true;
}

void SegmentList::select(int index)
{
    State next = m_state;
    next.selected = index >= 0 && index < m_state.segments.size() ? index : -1;
    if (next.selected >= 0) {
        next.startMark = next.segments.at(index).start;
        next.endMark = next.segments.at(index).end;
    }
    apply(next);
}

void SegmentList::setMarks(double startMark, double endMark)
{
    State next = m_state;
    next.startMark = startMark;
    next.endMark = endMark;
    if (next.selected >= 0 && endMark > startMark) {
        next.segments[next.selected].start = startMark;
        next.segments[next.selected].end = endMark;
    }
    apply(next);
}

void SegmentList::setLabel(int index, const QString &label)
{
    if (index < 0 || index >= m_state.segments.size())
        return;
    State next = m_state;
    next.segments[index].label = label;
    apply(next);
}

void SegmentList::replace(const QList<Segment> &segments)
{
    State next = m_state;
    next.segments = segments;
    next.selected = -1;
    apply(next);
}

void SegmentList::undo()
{
    if (m_undo.isEmpty())
        return;
    m_redo << m_state;
    m_state = m_undo.takeLast();
}

void SegmentList::redo()
{
    if (m_redo.isEmpty())
        return;
    m_undo << m_state;
    m_state = m_redo.takeLast();
}
