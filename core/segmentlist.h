#pragma once

#include "result.h"

#include <QList>
#include <QString>
#include <QStringList>

// One range of the source to keep or to remove, in seconds, with an optional label (a file
// name for "one file each", a chapter title when joining).
struct Segment
{
    double start = 0;
    double end = 0;
    QString label;

    double length() const { return end - start; }
    bool operator==(const Segment &other) const = default;
};

// What a cut takes from the list: the segments themselves, or everything else.
enum class SegmentUse { Keep, Remove };

// The ranges a cut saves, in the order it saves them, and what had to be changed to get there
// (one sentence each, for the user): overlapping or touching segments merged, pieces past the
// end dropped or shortened.
struct SegmentPlan
{
    QList<Segment> ranges;
    QStringList notes;
};

// The ranges a cut of `segments` saves from a source `duration` seconds long (<= 0: unknown,
// nothing is clipped). Keep: the segments in list order, clipped to the source; segments that
// overlap or touch are merged into one, at the place of the first of them, so that no frame is
// saved twice. Remove: what lies between the merged segments, in time order. Segments wholly
// past the end, and empty ones, are dropped with a note. An empty result is for the caller to
// refuse.
SegmentPlan PlanSegments(const QList<Segment> &segments, SegmentUse use, double duration);

// The segments as CSV: a header line "start,end,label", then one line a segment, times in
// seconds with a point (as many digits as needed to read back the same value), labels quoted
// when they hold a comma, a quote or a line break.
QString SegmentsToCsv(const QList<Segment> &segments);

// Reads a list written by SegmentsToCsv or by hand or another program: an optional header
// line, then "start,end[,label]" a line; times in seconds with a point or as time codes
// (hh:mm:ss.t); blank lines skipped. A line that is not a segment fails the whole list with
// BadRequest and a sentence naming the line.
Result<QList<Segment>> SegmentsFromCsv(const QString &text);

// The segment list of the window: its segments, which of them the marks edit, and an
// undo history of every change of the list and the marks.
class SegmentList
{
public:
    // The list and the marks, as one undoable state.
    struct State
    {
        QList<Segment> segments;
        int selected = -1; // the segment the marks edit, -1 for none
        double startMark = 0;
        double endMark = 0;
        bool operator==(const State &other) const = default;
    };

    // A list without segments whose marks start where the window's are, with no history.
    SegmentList() = default;
    SegmentList(double startMark, double endMark);

    const State &state() const { return m_state; }
    const QList<Segment> &segments() const { return m_state.segments; }
    int selected() const { return m_state.selected; }

    // Adds the marks as a segment at the end of the list, with nothing selected, so that the
    // marks move on freely to the next segment; false (and no change) when the marks make no
    // range.
    bool addFromMarks();
    // Removes the segment at `index`; the selection moves to its neighbour.
    bool remove(int index);
    // Moves the segment at `from` to `to`, keeping it selected if it was.
    bool move(int from, int to);
    // Selects a segment (-1: none); the marks take its start and end.
    void select(int index);
    // New marks; a selected segment follows them when they make a range.
    void setMarks(double startMark, double endMark);
    void setLabel(int index, const QString &label);
    // Replaces the whole list (an imported CSV).
    void replace(const QList<Segment> &segments);

    bool canUndo() const { return !m_undo.isEmpty(); }
    bool canRedo() const { return !m_redo.isEmpty(); }
    void undo();
    void redo();

private:
    // Makes `next` the state, remembering the current one for undo; no entry when nothing
    // changes.
    void apply(State next);

    State m_state;
    QList<State> m_undo;
    QList<State> m_redo;
};
