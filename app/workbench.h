#pragma once

#include "segmentlist.h"
#include "segmentpanel.h"

#include <QObject>
#include <QString>

#include <optional>

class QLabel;
class QWidget;
class SegmentPanel;
class TimelineFeeder;
class TimelineView;

// The aids the window shows beside its classic controls: the timeline (key-frame ticks,
// thumbnails, waveform, segment bands, marks and play position) and the segment list. The
// window tells it what it shows (a file opened or closed, the marks, the position); it tells
// the window what the user asks of them (a position, new marks) by signals.
class Workbench final : public QObject
{
    Q_OBJECT
public:
    explicit Workbench(QWidget *window);
    ~Workbench() override;

    TimelineView *timeline() const { return m_timeline; }
    SegmentPanel *panel() const { return m_panel; }
    QLabel *stepStatus() const { return m_stepStatus; }

    // A file is open and shown with its range; the list starts empty with these marks.
    // frameRate: of the video, 0 when unknown.
    void fileShown(const QString &path, qint64 durationMicros, bool hasVideo, bool hasAudio,
                   double startMark, double endMark, double frameRate);
    void fileClosed();
    void rangeShown(double startSeconds, double endSeconds);
    void positionShown(qint64 micros);
    bool hasVideo() const { return m_hasVideo; }

    // The key frame after (direction 1) or before (-1) a time; -1 when there is none or the
    // index is not read yet.
    qint64 keyFrameFrom(qint64 micros, int direction) const;

    // What a cut saves when it is not the marks' range: the planned ranges of the segment
    // list, with their notes (the ranges may be empty: nothing is left). None when the marks'
    // range is the cut (no segment, or one segment kept, is a plain cut).
    std::optional<SegmentPlan> plannedCut() const;
    bool oneFileEach() const { return m_panel->choice().oneFileEach; }

    bool addSegment();
    void undo();
    void redo();
    bool removeSelected();

Q_SIGNALS:
    // The user points at a time on the timeline (exact false while dragging).
    void positionRequested(qint64 micros, bool exact);
    // The segment list moved the marks (a selection, undo, redo).
    void marksRequested(double startSeconds, double endSeconds);
    // The plan changed: whether Cut has something to save beside the marks may have changed.
    void planChanged();
    void problem(const QString &message);

private:
    void showStepStatus();

    TimelineView *m_timeline = nullptr;
    TimelineFeeder *m_feeder = nullptr;
    SegmentPanel *m_panel = nullptr;
    QLabel *m_stepStatus = nullptr;
    double m_durationSeconds = 0;
    bool m_hasVideo = false;
    bool m_showingRange = false;
    qint64 m_frameStep = 0; // microseconds, from the frame rate; 0 when unknown
};
