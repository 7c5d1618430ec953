#pragma once

#include "cutrange.h"

#include <QString>

class MainView;
class Player;
class Probe;
struct SharedValues;

// Opening a file and the transport: keeps the position slider, the labels and the video pane
// in step with the player. Every handler runs its steps in order and goes on past a step that
// cannot be done; nothing here throws or blocks beyond the player's own bounded open.
class Playback
{
public:
    Playback(Player &player, Probe &probe, SharedValues &shared, MainView &view);

    // The Open command (button, Ctrl+O, the guide picture).
    void openCommand();
    // Opens a file handed over from outside (the command line, a drop) exactly as the Open
    // command opens the file chosen in its dialog.
    void openFile(const QString &path);

    // Player events.
    void onMediaOpened(qint64 durationMicros);
    void onPosition(qint64 micros);
    void onStateChanged(int code);

    // Transport.
    void playPause();
    void goToStart();
    void goToEnd();
    // Keys: one frame forward (1) or back (-1) while paused; a jump by seconds from the frame
    // on screen, within the media.
    void stepFrame(int direction);
    void jump(double seconds);
    void positionMouseDown(int button);
    void positionMouseUp(int button, double xTwips);
    void refreshStillFrame(qint64 targetMicros);

    // Volume and mute.
    void volumeClick();
    void volumeMouseUp(int button, double xTwips);
    void muteClick();

    // The 1000 ms timer.
    void timerTick();

    qint64 durationMicros() const { return m_durationMicros; }
    QString durationText() const { return m_durationText; }
    double durationTenths() const { return m_durationTenths; }
    double positionSeconds() const { return m_positionSeconds; }
    void setPositionSeconds(double seconds) { m_positionSeconds = seconds; }
    bool freezePositionUpdates() const { return m_freezePositionUpdates; }
    QString lastOpenFolder() const { return m_lastOpenFolder; }
    void setLastOpenFolder(const QString &folder) { m_lastOpenFolder = folder; }
    CutRange &range() { return m_range; }
    const CutRange &range() const { return m_range; }
    bool fileOpen() const { return m_fileOpen; }

    // Shows the range everywhere the window shows it (the Start and End boxes, the slider's
    // band, the Duration label, the Cut button) and hands its start and length to the shared
    // values a conversion reads. Every change of a mark ends here.
    void showRange();

    // The time of the frame on screen, in seconds. A seek or frame step of ours that has not
    // landed yet is given a moment to land; then the player's own position counts, else the
    // last position we know of.
    double frameOnScreenSeconds();
    // Seeks the picture to the time (exact seek); the position is that time from now on.
    void seekTo(qint64 micros);
    // Moves the position slider and its label to the time without seeking.
    void showPositionSeconds(double seconds);

    // The player time of a slider value (tenths) or a time, rounded to the microsecond and
    // kept within the media, so the picture shows the time the slider and its label show.
    qint64 targetForTenths(double tenths) const;
    qint64 targetForSeconds(double seconds) const;

private:
    void openChosenFile(QString path);
    void probeOpenedFile(const QString &path);
    void showPosition(int tenths);
    void closeMedia();

    Player &m_player;
    Probe &m_probe;
    SharedValues &m_shared;
    MainView &m_view;

    qint64 m_durationMicros = 0;
    QString m_durationText;
    double m_durationTenths = 0;
    double m_positionSeconds = 0;
    bool m_freezePositionUpdates = false;
    QString m_lastOpenFolder;
    CutRange m_range;
    bool m_fileOpen = false;
    bool m_seekPending = false; // a seek was asked for and the player has not moved since
    bool m_targetKnown = false; // m_positionSeconds is that seek's target
};
