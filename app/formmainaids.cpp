// The main window's timeline and segment list: their keys, their layout, and the cut of a
// segment list (joined, or one file a segment).
#include "formmain.h"

#include "formvideoformat.h"
#include "mainlayout.h"
#include "messagesink.h"
#include "nasliders.h"
#include "playback.h"
#include "player.h"
#include "rangemarks.h"
#include "segmentpanel.h"
#include "slidermath.h"
#include "timelineview.h"
#include "workbench.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace {

constexpr int kStatusHeight = 36; // two lines

qint64 toMicros(double seconds)
{
    return qint64(std::llround(seconds * 1e6));
}

} // namespace

void FormMain::connectWorkbench()
{
    connect(m_workbench, &Workbench::positionRequested, this, &FormMain::showTimelinePosition);
    connect(m_workbench, &Workbench::marksRequested, this, &FormMain::applySegmentMarks);
    connect(m_workbench, &Workbench::planChanged, this, &FormMain::refreshCutEnabled);
    connect(m_workbench, &Workbench::problem, this, [this](const QString &message) {
        if (m_messages)
            m_messages->showMessage(this, MessageSink::Icon::Warning, QStringLiteral("Snipora"),
                                    message);
    });
}

bool FormMain::handleWorkbenchKey(QKeyEvent *key)
{
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    struct Command
    {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool repeats;
        std::function<void()> run;
    };
    const Command commands[] = {
        { Qt::Key_S, Qt::NoModifier, false, [this] { m_workbench->addSegment(); } },
        { Qt::Key_Delete, Qt::NoModifier, false, [this] { m_workbench->removeSelected(); } },
        { Qt::Key_Z, Qt::ControlModifier, true, [this] { m_workbench->undo(); } },
        { Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, true,
          [this] { m_workbench->redo(); } },
        { Qt::Key_Left, Qt::ControlModifier, true, [this] { stepKeyFrame(-1); } },
        { Qt::Key_Right, Qt::ControlModifier, true, [this] { stepKeyFrame(1); } },
        { Qt::Key_I, Qt::ShiftModifier, false, [this] { goToMark(false); } },
        { Qt::Key_O, Qt::ShiftModifier, false, [this] { goToMark(true); } },
        { Qt::Key_Plus, Qt::NoModifier, true, [this] { m_workbench->timeline()->zoomIn(); } },
        { Qt::Key_Equal, Qt::NoModifier, true, [this] { m_workbench->timeline()->zoomIn(); } },
        { Qt::Key_Minus, Qt::NoModifier, true, [this] { m_workbench->timeline()->zoomOut(); } },
    };
    for (const Command &c : commands) {
        // "+" comes with Shift on most layouts.
        const bool plus = c.key == Qt::Key_Plus && key->key() == Qt::Key_Plus;
        if (c.key != key->key() || (c.modifiers != mods && !plus))
            continue;
        if (key->type() == QEvent::KeyPress && (c.repeats || !key->isAutoRepeat())
            && m_btnPause->isEnabled())
            runCommand(c.run);
        return true;
    }
    return false;
}

void FormMain::layoutWorkbench(const QRect &timeline, const QRect &panel)
{
    TimelineView *view = m_workbench->timeline();
    if (timeline.isEmpty()) {
        view->hide();
    } else {
        // The timeline's time axis lies under the slider's track, so a time is at the same x
        // in both (the track is inset by half the thumb at either end).
        QRect axis = timeline;
        if (m_workbench->hasVideo()) {
            const int inset
                = int(std::lround(m_positionSlider->thumbHalfWidth() / MainLayout::TwipsPerPixel));
            const int track
                = int(std::lround(m_positionSlider->trackLength() / MainLayout::TwipsPerPixel));
            axis = QRect(m_positionSlider->x() + inset, timeline.y(), std::max(1, track),
                         timeline.height());
        }
        view->setGeometry(axis);
        view->show();
        view->raise();
    }
    SegmentPanel *segments = m_workbench->panel();
    QLabel *status = m_workbench->stepStatus();
    segments->setVisible(!panel.isEmpty());
    status->setVisible(!panel.isEmpty());
    if (!panel.isEmpty()) {
        const QRect inner = panel.adjusted(4, 4, -4, -4);
        segments->setGeometry(inner.adjusted(0, 0, 0, -kStatusHeight));
        status->setGeometry(inner.left(), inner.bottom() - kStatusHeight + 1, inner.width(),
                            kStatusHeight);
    }
}

void FormMain::showTimelinePosition(qint64 micros, bool exact)
{
    if (!m_playback || !m_playback->fileOpen())
        return;
    if (!exact) {
        // A quick picture while the user drags; the exact one comes with the release.
        m_player->seekFast(micros);
        m_playback->showPositionSeconds(double(micros) / 1e6);
        return;
    }
    runCommand([this, micros] {
        m_playback->seekTo(micros);
        m_playback->showPositionSeconds(double(micros) / 1e6);
        m_playback->refreshStillFrame(micros);
    });
}

void FormMain::scrubTo(double xTwips)
{
    if (!m_playback || !m_playback->fileOpen() || !m_positionSlider->isEnabled())
        return;
    m_scrubbing = true;
    const int value = positionValueAt(xTwips);
    if (value < 0 || value > positionMax())
        return;
    m_player->seekFast(m_playback->targetForTenths(value));
}

void FormMain::applySegmentMarks(double startSeconds, double endSeconds)
{
    if (!m_playback || !m_playback->fileOpen())
        return;
    CutRange &range = m_playback->range();
    // The end first, so that a start past the old end is not taken for an empty range.
    range.typeEnd(range.duration());
    range.typeStart(startSeconds);
    range.typeEnd(endSeconds);
    m_playback->showRange();
}

void FormMain::stepKeyFrame(int direction)
{
    if (!m_playback->fileOpen())
        return;
    m_playback->withFrameOnScreen([this, direction](double seconds) {
        const qint64 key = m_workbench->keyFrameFrom(toMicros(seconds), direction);
        if (key < 0 || !m_playback->fileOpen())
            return; // no key frame that way, or the index is still being read
        m_player->pause();
        setOffersPlay(true);
        showTimelinePosition(key, true);
    });
}

void FormMain::goToMark(bool end)
{
    if (!m_playback->fileOpen())
        return;
    const CutRange &range = m_playback->range();
    const double seconds = end ? range.end() : range.start();
    m_player->pause();
    setOffersPlay(true);
    showTimelinePosition(m_playback->targetForSeconds(seconds), true);
}

void FormMain::refreshCutEnabled()
{
    const std::optional<SegmentPlan> plan = m_workbench ? m_workbench->plannedCut() : std::nullopt;
    const bool fileOpen = m_playback && m_playback->fileOpen();
    m_btnCut->setEnabled(m_cutByMarks || (fileOpen && plan && !plan->ranges.isEmpty()));
}

void FormMain::cutCommand()
{
    if (!m_rangeMarks)
        return;
    const std::optional<SegmentPlan> plan = m_workbench->plannedCut();
    if (!plan) {
        m_shared.Segments.clear();
        m_shared.OneFileEach = false;
        m_rangeMarks->cut();
        return;
    }
    runCommand([this, plan] {
        m_player->pause();
        setOffersPlay(true);
        if (!m_playback->fileOpen())
            return;
        if (plan->ranges.isEmpty()) {
            if (m_messages)
                m_messages->showMessage(
                    this, MessageSink::Icon::Warning, QStringLiteral("Snipora"),
                    QStringLiteral("Nothing is left to save: the segments cover the whole file."));
            return;
        }
        m_shared.Segments = plan->ranges;
        m_shared.OneFileEach = m_workbench->oneFileEach();
        // The builder's view of the job shows the first range.
        m_shared.CutStartSeconds = plan->ranges.first().start;
        m_shared.CutLengthSeconds = plan->ranges.first().length();
        showOutputDialog();
    });
}

bool FormMain::runEachFile()
{
    if (m_shared.EachJobs.isEmpty())
        return false;
    const CutJob whole = m_shared.Job;
    // Every name is agreed to before the first file is written: a "no" leaves nothing saved.
    QList<CutJob> jobs = m_shared.EachJobs;
    for (CutJob &job : jobs) {
        if (!AgreeToTarget(job, m_messages, this))
            return true;
    }
    m_shared.StopRequested = false;
    runOneConversion(jobs); // one dialog over all of them
    m_shared.Job = whole;
    return true;
}
