#include "workbench.h"

#include "segmentpanel.h"
#include "timelinefeeder.h"
#include "timelinescale.h"
#include "timelineview.h"

#include <QFileDialog>
#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// The typical distance between neighbours of an ascending list (its median), 0 for fewer
// than two entries.
qint64 typicalStep(const QList<qint64> &times)
{
    if (times.size() < 2)
        return 0;
    QList<qint64> steps;
    steps.reserve(times.size() - 1);
    for (qsizetype i = 1; i < times.size(); ++i)
        steps << times.at(i) - times.at(i - 1);
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps.at(steps.size() / 2);
}

QString seconds(qint64 micros, int decimals)
{
    return QString::number(double(micros) / 1e6, 'f', decimals);
}

} // namespace

Workbench::Workbench(QWidget *window)
    : QObject(window)
{
    m_timeline = new TimelineView(window);
    m_timeline->setObjectName(QStringLiteral("Timeline"));
    m_timeline->hide();
    m_feeder = new TimelineFeeder(m_timeline, this);
    m_panel = new SegmentPanel(window);
    m_panel->setChooseFile([](QWidget *parent, bool save) {
        const QString filter = QStringLiteral("Segment lists (*.csv);;All files (*)");
        return save ? QFileDialog::getSaveFileName(parent, QStringLiteral("Export segments"),
                                                   QString(), filter)
                    : QFileDialog::getOpenFileName(parent, QStringLiteral("Import segments"),
                                                   QString(), filter);
    });
    m_stepStatus = new QLabel(window);
    m_stepStatus->setObjectName(QStringLiteral("StepStatus"));
    m_stepStatus->setWordWrap(true);

    connect(m_timeline, &TimelineView::positionRequested, this, &Workbench::positionRequested);
    connect(m_feeder, &TimelineFeeder::keyFramesChanged, this, &Workbench::showStepStatus);
    connect(m_panel, &SegmentPanel::segmentsChanged, this,
            [this](const QList<Segment> &segments, int selected) {
                m_timeline->setSegments(segments, selected);
                emit planChanged();
            });
    connect(m_panel, &SegmentPanel::marksChanged, this, [this](double start, double end) {
        if (!m_showingRange)
            emit marksRequested(start, end);
    });
    connect(m_panel, &SegmentPanel::problem, this, &Workbench::problem);
    fileClosed();
}

Workbench::~Workbench() = default;

void Workbench::fileShown(const QString &path, qint64 durationMicros, bool hasVideo, bool hasAudio,
                          double startMark, double endMark, double frameRate)
{
    m_frameStep = hasVideo && frameRate > 0 ? qint64(std::llround(1e6 / frameRate)) : 0;
    m_durationSeconds = durationMicros > 0 ? double(durationMicros) / 1e6 : 0;
    m_hasVideo = hasVideo;
    m_panel->reset(m_durationSeconds, startMark, endMark);
    m_panel->setEnabled(true);
    m_timeline->show();
    m_feeder->open(path, durationMicros, hasVideo, hasAudio);
    showStepStatus();
    emit planChanged();
}

void Workbench::fileClosed()
{
    m_feeder->close();
    m_durationSeconds = 0;
    m_hasVideo = false;
    m_frameStep = 0;
    m_panel->reset(0);
    m_panel->setEnabled(false);
    m_timeline->hide();
    m_stepStatus->clear();
    emit planChanged();
}

void Workbench::rangeShown(double startSeconds, double endSeconds)
{
    // The panel's own marksChanged comes back here through the window: not echoed again.
    m_showingRange = true;
    m_panel->setMarks(startSeconds, endSeconds);
    m_showingRange = false;
    auto micros = [](double s) { return qint64(std::llround(s * 1e6)); };
    m_timeline->setMarks(micros(startSeconds), micros(endSeconds));
}

void Workbench::positionShown(qint64 micros)
{
    m_timeline->setPosition(micros);
}

qint64 Workbench::keyFrameFrom(qint64 micros, int direction) const
{
    const QList<qint64> &keys = m_feeder->keyFrames().keyFrames;
    return direction > 0 ? NextKeyFrame(keys, micros) : PreviousKeyFrame(keys, micros);
}

std::optional<SegmentPlan> Workbench::plannedCut() const
{
    const SegmentChoice choice = m_panel->choice();
    const QList<Segment> &segments = m_panel->list().segments();
    // One segment kept, or none at all, is the plain cut of the marks.
    if (segments.isEmpty() || (choice.use == SegmentUse::Keep && segments.size() == 1))
        return std::nullopt;
    return PlanSegments(segments, choice.use, m_durationSeconds);
}

bool Workbench::addSegment()
{
    return m_panel->isEnabled() && m_panel->addSegment();
}

void Workbench::undo()
{
    if (m_panel->isEnabled())
        m_panel->undo();
}

void Workbench::redo()
{
    if (m_panel->isEnabled())
        m_panel->redo();
}

bool Workbench::removeSelected()
{
    return m_panel->isEnabled() && m_panel->removeSelected();
}

void Workbench::showStepStatus()
{
    const KeyFrameList &list = m_feeder->keyFrames();
    const qint64 measured = typicalStep(list.frameTimes);
    const qint64 frame = measured > 0 ? measured : m_frameStep;
    const qint64 key = typicalStep(list.keyFrames);
    QStringList parts;
    if (frame > 0)
        parts << QStringLiteral("Frame step %1 s (Left/Right)").arg(seconds(frame, 3));
    if (key > 0)
        parts << QStringLiteral("key frames every %1 s (Ctrl+Left/Right)").arg(seconds(key, 2));
    m_stepStatus->setText(parts.join(QStringLiteral(", ")));
}
