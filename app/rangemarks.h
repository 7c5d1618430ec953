#pragma once

class MainView;
class Playback;
class Player;
struct SharedValues;

// Marking the range to keep: from the play position (Set start/end point) or typed time codes,
// shown as the position slider's band; Cut hands the range to the output dialog. Nothing here
// shows a message: a range that is not longer than zero simply disables Cut.
class RangeMarks
{
public:
    RangeMarks(Playback &playback, Player &player, SharedValues &shared, MainView &view);

    void setStart();
    void setEnd();
    // Run when editing of the Start or End box is finished (Enter or leaving the box).
    void editStart();
    void editEnd();
    void cut();

private:
    void showLength();

    Playback &m_playback;
    Player &m_player;
    SharedValues &m_shared;
    MainView &m_view;
};
