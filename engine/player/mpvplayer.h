#pragma once

#include "commandchain.h"
#include "player.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <limits>
#include <memory>

struct mpv_handle;
struct mpv_event_end_file;
struct mpv_event_property;
class MpvVideoWidget;
class QFileInfo;

// Ends an mpv handle: its wakeups stop, then the core is terminated and destroyed.
struct MpvHandleRelease
{
    void operator()(mpv_handle *mpv) const;
};
using MpvHandle = std::unique_ptr<mpv_handle, MpvHandleRelease>;

// Frees a string mpv handed out.
struct MpvStringRelease
{
    void operator()(char *text) const;
};
using MpvString = std::unique_ptr<char, MpvStringRelease>;

// The player on libmpv. mpv's wakeup callback only queues a call onto the UI thread, which
// drains mpv's events until none is left; every signal is emitted on the UI thread.
//
// With a video output the picture is drawn by mpv's software renderer on a thread of the video
// pane (MpvVideoWidget). Headless runs (tests, the offscreen platform) use vo=null and ao=null
// and a plain widget.
class MpvPlayer final : public Player
{
    Q_OBJECT
public:
    struct Options
    {
        bool headless = false;
    };

    explicit MpvPlayer(Options options, QObject *parent = nullptr);
    ~MpvPlayer() override;

    bool isLibraryLoaded() const override;
    bool loadLibrary() override;

    QWidget *videoWidget(QWidget *parent) override;
    QWidget *videoWindow() const override;

    void open(const QString &path) override;
    void cancelOpen() override;
    bool isOpening() const override { return m_openStage != OpenStage::None; }
    QString lastErrorText() const override;
    void close() override;

    void pause() override;
    void play() override;
    void togglePause() override;
    bool isPaused() const override;
    int stateCode() const override;

    void seek(qint64 micros) override;
    void seekFast(qint64 micros) override;
    double frameRate() const override;

    bool isMuted() const override;
    void setMuted(bool muted) override;
    void setVolume(int volume) override;
    int volume() const;

    int displayWidth() const override { return m_displayWidth; }
    int displayHeight() const override { return m_displayHeight; }
    void setDisplayWidth(int width) override { m_displayWidth = width; }
    void setDisplayHeight(int height) override { m_displayHeight = height; }
    int pictureWidth() const override { return m_pictureWidth; }
    int pictureHeight() const override { return m_pictureHeight; }
    void setPictureWidth(int width) override { m_pictureWidth = width; }
    void setPictureHeight(int height) override { m_pictureHeight = height; }
    void applySize() override;

    // The playback position mpv last reported, in microseconds (-1 when none): after a seek,
    // the time of the frame it landed on once that is known.
    qint64 currentPosition() const override;
    void stepFrame(int direction) override;
    int pendingSteps() const override { return std::abs(m_queuedSteps) + (m_stepping ? 1 : 0); }
    qint64 durationMicros() const { return m_durationMicros; }

private:
    void seekWith(qint64 micros, const char *flags);
    Q_INVOKABLE void drainEventsQueued() { drainEvents(); }
    void drainEvents();
    void handleEvent(const void *event);
    void onEndFile(const mpv_event_end_file &end);
    void onPlaybackRestart();
    // What a seek's landing ends, decided when mpv says it landed; it counts once the time of
    // the frame it landed on is known.
    struct Landing
    {
        quint64 openSerial = 0;
        quint64 seekSerial = 0; // the seek it ends, 0 when none
        quint64 stepSerial = 0; // the step back it ends, 0 when none
    };
    void onLandingReply(const mpv_event_property &property);
    void land(const Landing &landing, const mpv_event_property &timePos);
    // Playing waits for mpv's answer whether the picture is parked at the end.
    void onPlayReply(quint64 serial, const mpv_event_property &property);
    void cancelPendingPlay();
    void onPropertyChange(const mpv_event_property &property);
    // The stages of open(), each started by the event that ends the one before: mpv loads the
    // file, mpv answers what the open needs to know of it (its
    // tracks, length, container and frame rate), the length becomes known. Every failure ends
    // in failOpen(), which leaves nothing open.
    enum class OpenStage { None, Loading, Facts, Duration };
    bool checkReadable(const QFileInfo &info, const QString &path);
    void showVideo();
    void startLoad();
    void onOpenStart(qint64 entry);
    void onFileLoaded();
    void onFactReply(quint64 tag, const mpv_event_property &property);
    void factsKnown();
    void completeOpen();
    void failOpen(const QString &text);
    void failOpenLater(const QString &text);
    void onOpenTimeout();
    void endOpenStage();
    void abandonOpen();
    void setState(int state);
    void emitPosition();
    // Sends the next waiting step to mpv when nothing else is on its way.
    void startQueuedStep();
    // The step on its way has shown its frame: the next one may go.
    void stepLanded();
    void onStepGuard();
    void dropQueuedSteps() { m_queuedSteps = 0; }
    void resetSteps();
    // Sets a flag without waiting for mpv; isPaused() and isMuted() say the value set at once.
    void setFlag(const char *name, bool on);
    void stopPlayback();
    bool sendCommand(const CommandChain::Command &command);
    void onCommandRefused(const CommandChain::Command &command);
    void onChainReply(quint64 serial, int error, const void *result);

    Options m_options;
    MpvHandle m_mpv;
    // load and stop, sent one at a time without waiting (see CommandChain)
    CommandChain m_commands;
    QPointer<QWidget> m_videoWidget;
    QTimer m_positionTimer;
    QString m_error;
    int m_state = StateNoMedia;
    qint64 m_durationMicros = 0;
    int m_displayWidth = 0;
    int m_displayHeight = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;

    // Frame steps: mpv merges a step back asked for while another is still seeking into it, so
    // one is on its way at a time and the rest wait here (signed: forward is positive).
    bool m_stepping = false;
    bool m_seeking = false; // a seek has not landed yet
    quint64 m_seekSerial = 0; // the last seek's number, its command's reply tag
    bool m_lastSeekTaken = false; // mpv has taken the last seek asked for
    int m_steppingDirection = 0;
    quint64 m_stepSerial = 0; // the number of the last step sent
    std::deque<Landing> m_landings; // landings whose time mpv has yet to answer
    bool m_playPending = false; // playing waits for the answer whether it is parked at the end
    quint64 m_playSerial = 0;
    quint64 m_playSeekSerial = 0; // the last seek's number when playing was asked for
    int m_queuedSteps = 0;
    QTimer m_stepGuard; // a step or seek that shows no new frame lands after a while

    // What mpv last reported (or we last set) of its properties.
    double m_timePos = std::numeric_limits<double>::quiet_NaN();
    bool m_pausedFlag = true;
    bool m_mutedFlag = false;
    int m_pauseSets = 0; // our changes of the flag mpv has not answered yet
    int m_muteSets = 0;
    double m_volume = 100; // percent, as mpv has it
    int m_volumeSets = 0;

    // The open on its way.
    OpenStage m_openStage = OpenStage::None;
    QString m_openPath;
    QString m_openFile; // the absolute path mpv is given
    quint64 m_openWish = 0; // the chain's serial of the load command, 0 when none
    bool m_openReplied = false; // mpv has answered the load command
    qint64 m_openEntry = -1; // mpv's playlist entry of the load, -1 until known
    bool m_openEntryStarted = false;
    // What mpv last did with the entries it played, for a load whose reply comes after it
    qint64 m_lastStartedEntry = -1; // the entry started last
    bool m_lastStartedLoaded = false; // ... and it has loaded
    qint64 m_lastFailedEntry = -1; // the entry that last ended in an error
    int m_lastFailedError = 0; // ... and its error
    quint64 m_openSerial = 0; // every open and cancel counts: late answers of older ones drop
    QTimer m_openTimer; // the time an open or its stage may take
    int m_factsPending = 0;
    bool m_factVideo = false;
    bool m_factAudio = false;
    bool m_factDurationKnown = false;
    bool m_factUnindexed = false;
    double m_factDuration = 0; // seconds
    double m_factFps = 0;
    double m_frameRate = 0; // of the file open, 0 when unknown

    friend class MpvVideoWidget;
};
