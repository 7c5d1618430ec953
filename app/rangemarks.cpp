#include "rangemarks.h"

#include "mainview.h"
#include "playback.h"
#include "player.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <cmath>
#include <limits>

namespace {

int rounded(double tenths)
{
    const qint64 r = RoundHalfEven(tenths);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        return 0;
    return int(r);
}

} // namespace

RangeMarks::RangeMarks(Playback &playback, Player &player, SharedValues &shared, MainView &view)
    : m_playback(playback)
    , m_player(player)
    , m_shared(shared)
    , m_view(view)
{
}

// Cut is enabled exactly while the range is longer than zero; the band shows its length.
void RangeMarks::showLength()
{
    const double length = m_playback.range().lengthTenths;
    if (length > 0) {
        m_view.setCutEnabled(true);
        m_view.setPositionSelLength(rounded(length));
    } else {
        m_view.setCutEnabled(false);
        m_view.setPositionSelLength(0);
    }
}

void RangeMarks::setStart()
{
    RangeState &r = m_playback.range();
    const int value = m_view.positionValue();
    r.startTenths = value;
    m_shared.CutStartSeconds = m_playback.positionSeconds();
    m_view.setStartText(FormatTimeCode(r.startTenths / 10.0));
    r.lengthTenths = r.endTenths - r.startTenths;
    m_view.setPositionSelStart(value);
    showLength();
    if (!(r.lengthTenths > 0))
        r.startTenths = r.endTenths = value; // the end collapses onto the start
}

void RangeMarks::setEnd()
{
    RangeState &r = m_playback.range();
    const int value = m_view.positionValue();
    r.endTenths = value;
    m_view.setEndText(FormatTimeCode(r.endTenths / 10.0));
    r.lengthTenths = r.endTenths - r.startTenths;
    showLength();
    if (!(r.lengthTenths > 0)) {
        r.startTenths = r.endTenths = value;
        m_view.setPositionSelStart(rounded(r.startTenths));
    }
}

void RangeMarks::editStart()
{
    RangeState &r = m_playback.range();
    r.startTenths = ParseTimeCode(m_view.startText()) * 10.0;
    r.lengthTenths = r.endTenths - r.startTenths;
    m_view.setPositionSelStart(rounded(r.startTenths));
    showLength();
    if (!(r.startTenths >= 0) || r.startTenths > m_view.positionMax())
        return; // beyond the file: no seek, the cut start stays
    if (m_view.offersPlay()) {
        const qint64 target = m_playback.targetForTenths(r.startTenths);
        m_player.seek(target, 0);
        m_playback.setPositionSeconds(r.startTenths / 10.0);
        m_playback.refreshStillFrame(target);
    }
    m_shared.CutStartSeconds = m_playback.positionSeconds();
}

void RangeMarks::editEnd()
{
    RangeState &r = m_playback.range();
    r.endTenths = ParseTimeCode(m_view.endText()) * 10.0; // no upper limit
    r.lengthTenths = r.endTenths - r.startTenths;
    showLength();
}

void RangeMarks::cut()
{
    m_player.pause();
    m_view.setOffersPlay(true);
    if (!(m_shared.CutStartSeconds >= 0))
        m_shared.CutStartSeconds = 0;
    m_shared.CutLengthSeconds = m_playback.range().lengthTenths / 10.0;
    m_view.showOutputDialog();
}
