#pragma once

#include <QString>

class MainView;
class Player;
class Probe;
struct SharedValues;

// The cut range in tenths of a second (the position slider's unit).
struct RangeState
{
    double startTenths = 0;
    double endTenths = 0;
    double lengthTenths = 0;
};

// Opening a file and the transport: keeps the position slider, the labels and the video pane
// in step with the player. Every handler runs its steps in order and goes on past a step that
// cannot be done; nothing here throws or blocks beyond the player's own bounded open.
class Playback
{
public:
    Playback(Player &player, Probe &probe, SharedValues &shared, MainView &view);

    // The Open command (button, Ctrl+O, the guide picture).
    void openCommand();

    // Player events.
    void onMediaOpened(qint64 durationMicros);
    void onPosition(qint64 micros);
    void onStateChanged(int code);

    // Transport.
    void playPause();
    void goToStart();
    void goToEnd();
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
    RangeState &range() { return m_range; }
    const RangeState &range() const { return m_range; }

    // Seeks the player to a slider value (tenths), rounded to the microsecond.
    qint64 targetForTenths(double tenths) const;

private:
    void probeOpenedFile(const QString &path);
    void showPosition(int tenths);

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
    RangeState m_range;
};
