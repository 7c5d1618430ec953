#pragma once

class QString;
class MainView;
class Playback;
class Player;
struct SharedValues;

// Marking the range to keep: from the frame on screen (Set start/end point) or typed time
// codes. The marks live in the playback's CutRange; every command here changes them there and
// then shows the range again, so the boxes, the band, the Duration label, the Cut button and the
// start and length a conversion reads always agree. Nothing here shows a message: a range that
// is not longer than zero simply disables Cut.
class RangeMarks
{
public:
    RangeMarks(Playback &playback, Player &player, SharedValues &shared, MainView &view);

    // Applies a typed time code that the user has not confirmed yet (the focus is still in the
    // box). Every command that reads the range or the position runs this first, so a button
    // pressed straight after typing acts on what the box shows.
    void applyPendingEdits();

    // The marks take the frame on screen once it is known (after the steps on their way).
    void setStart();
    void setEnd();
    // Run when editing of the Start or End box is finished (Enter or leaving the box).
    void editStart();
    void editEnd();
    void cut();

private:
    void cutMarkedRange();
    void applyStart(const QString &text);
    void applyEnd(const QString &text);

    Playback &m_playback;
    Player &m_player;
    SharedValues &m_shared;
    MainView &m_view;
};
