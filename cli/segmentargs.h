#pragma once

#include "cutjob.h"
#include "segmentlist.h"

#include <QString>
#include <QStringList>

// The segment options of snipora-cut: --keep S-E and --remove S-E (each may be given many
// times; one kind per call), --segments FILE.csv and --each. Times as --start and --end take
// them (time codes or seconds).
struct SegmentArgs
{
    QList<Segment> segments;
    bool keepGiven = false;
    bool removeGiven = false;
    QString csvPath;
    bool each = false;

    bool any() const { return keepGiven || removeGiven || !csvPath.isEmpty(); }
    SegmentUse use() const { return removeGiven ? SegmentUse::Remove : SegmentUse::Keep; }
};

// Reads "S-E" (a time, a minus sign, a time) into a segment; BadRequest with a sentence naming
// the option for anything else, or an end not after the start.
Result<Segment> ParseSpan(const QString &option, const QString &text);

// The ranges a cut saves from a source `duration` seconds long (<= 0: unknown), after reading
// the CSV file when one is given: overlapping or touching segments are merged (one note each,
// for standard error). Fails with a sentence: BadRequest when --keep and --remove are mixed,
// the CSV file holds a line that is no segment, or the list is empty; SourceUnreadable when the
// CSV file cannot be read; NotPossible when a segment lies wholly past the end of the source,
// or what is left to save is nothing.
Result<SegmentPlan> ResolveSegments(SegmentArgs args, double duration, const QString &inputName);

// The ranges of a job, in the order of the plan, each with its segment's label.
QList<CutSpan> CutSpansOf(const QList<Segment> &ranges);
