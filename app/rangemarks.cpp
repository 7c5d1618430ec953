#include "rangemarks.h"

#include "mainview.h"
#include "playback.h"
#include "player.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <QString>

#include <optional>

namespace {

std::optional<double> typedSeconds(const QString &text)
{
    double seconds = 0;
    if (!ReadTypedTimeCode(text, &seconds))
        return std::nullopt;
    return seconds;
}

} // namespace

RangeMarks::RangeMarks(Playback &playback, Player &player, SharedValues &shared, MainView &view)
    : m_playback(playback)
    , m_player(player)
    , m_shared(shared)
    , m_view(view)
{
}

void RangeMarks::applyPendingEdits()
{
    // Both texts are read before either is applied: applying one shows the range again in
    // both boxes.
    const bool start = m_view.takePendingStartEdit();
    const bool end = m_view.takePendingEndEdit();
    const QString startText = m_view.startText();
    const QString endText = m_view.endText();
    if (start)
        applyStart(startText);
    if (end)
        applyEnd(endText);
}

void RangeMarks::setStart()
{
    applyPendingEdits();
    if (!m_playback.fileOpen())
        return;
    m_playback.withFrameOnScreen([this](double seconds) {
        if (!m_playback.fileOpen())
            return;
        m_playback.range().markStart(seconds);
        m_playback.showRange();
    });
}

void RangeMarks::setEnd()
{
    applyPendingEdits();
    if (!m_playback.fileOpen())
        return;
    m_playback.withFrameOnScreen([this](double seconds) {
        if (!m_playback.fileOpen())
            return;
        m_playback.range().markEnd(seconds);
        m_playback.showRange();
    });
}

void RangeMarks::editStart()
{
    applyStart(m_view.startText());
}

void RangeMarks::editEnd()
{
    applyEnd(m_view.endText());
}

void RangeMarks::applyStart(const QString &text)
{
    if (!m_playback.fileOpen())
        return;
    CutRange &range = m_playback.range();
    double seconds = 0;
    const bool time = ReadTypedTimeCode(text, &seconds);
    if (time)
        range.typeStart(seconds);
    // What is no time at all brings the box back to the mark it had.
    m_playback.showRange();
    if (!time)
        return;
    const double start = range.start();
    if (range.duration() > 0 && start > range.duration())
        return; // beyond the file: nothing to show there
    if (m_view.offersPlay()) {
        // Paused: the picture, the position slider and its label all move to the typed start.
        const qint64 target = m_playback.targetForSeconds(start);
        m_playback.seekTo(target);
        m_playback.showPositionSeconds(start);
        m_playback.refreshStillFrame(target);
    }
}

void RangeMarks::applyEnd(const QString &text)
{
    if (!m_playback.fileOpen())
        return;
    if (const std::optional<double> seconds = typedSeconds(text))
        m_playback.range().typeEnd(*seconds); // at most the end of the file
    m_playback.showRange(); // what is no time at all brings the box back to the mark
}

void RangeMarks::cut()
{
    applyPendingEdits();
    // A mark still waiting for its frame is set first.
    m_playback.afterFrameQueries([this] { cutMarkedRange(); });
}

void RangeMarks::cutMarkedRange()
{
    m_player.pause();
    m_view.setOffersPlay(true);
    m_playback.showRange();
    if (!m_playback.fileOpen() || m_playback.range().isEmpty())
        return; // nothing to save: Cut is disabled, and a typed edit may just have emptied it
    const CutRange &range = m_playback.range();
    m_shared.CutStartSeconds = range.start();
    m_shared.CutLengthSeconds = range.length();
    m_view.showOutputDialog();
}
