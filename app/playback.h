#pragma once

#include "cutrange.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

class MainView;
class Player;
class Probe;
struct SharedValues;

// Opening a file and the transport: keeps the position slider, the labels and the video pane
// in step with the player. Every handler runs its steps in order and goes on past a step that
// cannot be done; nothing here throws or waits. An open runs from the event loop: it goes on
// when the player answers (onOpenFinished), and until then the transport does nothing.
class Playback
{
public:
    Playback(Player &player, Probe &probe, SharedValues &shared, MainView &view);
    ~Playback();
    Playback(const Playback &) = delete;
    Playback &operator=(const Playback &) = delete;

    // The Open command (button, Ctrl+O, the guide picture).
    void openCommand();
    // Opens a file handed over from outside (the command line, a drop) exactly as the Open
    // command opens the file chosen in its dialog.
    void openFile(const QString &path);

    // The open on its way, if any, stops; the window is left as it was before it (a file that
    // was open is opened again at the frame it showed).
    void cancelOpen();
    bool opening() const { return m_opening; }

    // Player events.
    void onMediaOpened(qint64 durationMicros);
    void onOpenFinished(bool opened);
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
    // A file is open and no other is being opened.
    bool fileOpen() const { return m_fileOpen && !m_opening; }

    // Shows the range everywhere the window shows it (the Start and End boxes, the slider's
    // band, the Duration label, the Cut button) and hands its start and length to the shared
    // values a conversion reads. Every change of a mark ends here.
    void showRange();

    // Hands the time of the frame on screen, in seconds, to use(), from the event loop when
    // something is on its way. Frame steps still on their way land first (each a frame
    // further), a seek of ours is given a moment to land; then the player's own position
    // counts, else the last position we know of. Uses are answered in the order asked.
    void withFrameOnScreen(std::function<void(double seconds)> use);
    // Runs the action once the uses asked for before it are answered (at once when none waits).
    void afterFrameQueries(std::function<void()> action);
    bool waitingForFrame() const { return !m_frameQueries.empty(); }
    // Seeks the picture to the time (exact seek); the position is that time from now on.
    void seekTo(qint64 micros);
    // Moves the position slider and its label to the time without seeking.
    void showPositionSeconds(double seconds);

    // The player time of a slider value (tenths) or a time, rounded to the microsecond and
    // kept within the media, so the picture shows the time the slider and its label show.
    qint64 targetForTenths(double tenths) const;
    qint64 targetForSeconds(double seconds) const;

private:
    struct FrameQuery
    {
        std::function<void(double)> use;
        bool needsFrame = true;
    };
    enum class Answer { Waiting, Yes, No };
    void openChosenFile(QString path);
    void startOpen(const QString &path, bool restoring);
    void openAnswered();
    void continueOpen(const QString &path, bool probed);
    void finishRestore(bool opened);
    void onFrameFound(quint64 lookup, qint64 reportedMicros, qint64 frameMicros, bool found);
    void showReportedPosition(qint64 micros);
    // Answers the waiting queries whose frame is known (or has been waited for long enough);
    // force answers them all with what is known now.
    void answerFrameQueries(bool force = false);
    bool frameSettled();
    double knownFrameSeconds() const;
    void probeOpenedFile(const QString &path, bool probed);
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

    // The open on its way and what the window showed before it.
    bool m_opening = false;
    bool m_restoring = false; // the file open before a cancelled open is opened again
    QString m_openingPath;
    QString m_folderBeforeOpen;
    double m_secondsBeforeOpen = 0;
    quint64 m_openAttempt = 0; // answers of the probe for older attempts are dropped
    Answer m_playerAnswer = Answer::Waiting;
    Answer m_probeAnswer = Answer::Waiting;

    // Uses of the frame on screen that wait for it to settle.
    std::deque<FrameQuery> m_frameQueries;
    bool m_answering = false;
    QElapsedTimer m_stepsWait; // since the queries began waiting
    QElapsedTimer m_seekWait; // since the steps were done and a seek was still on its way
    QTimer m_settleTimer;

    // RealMedia: the frame of a reported time is found away from the UI thread.
    quint64 m_frameLookup = 0; // the last lookup asked for
    bool m_lookupPending = false;

    QMetaObject::Connection m_openConnection;
    QMetaObject::Connection m_stepsConnection;
};
