#pragma once

#include <QObject>
#include <QString>

class QWidget;

// Plays one media file into a video widget. All calls and all signals happen on the thread
// that created the player (the UI thread). Times are signed 64-bit microsecond counts.
class Player : public QObject
{
    Q_OBJECT
public:
    // State codes reported by stateCode() and stateChanged().
    enum StateCode {
        StateNoMedia = 0, // nothing opened, or the media was closed
        StateStopped = 1, // opened and never started: paused at the start, no frame shown yet
        StatePlaying = 2, // playing
        StatePaused = 3, // paused after playing or seeking
        StateVideoReady = 4, // event only: the video output was (re)configured
        StateEnded = 5, // the end of the media was reached
    };
    Q_ENUM(StateCode)

    using QObject::QObject;
    ~Player() override = default;

    // The media library: loadLibrary() makes the player usable and returns whether it is.
    virtual bool isLibraryLoaded() const = 0;
    virtual bool loadLibrary() = 0;

    // The widget the video is drawn into, created on the first call with the given parent and
    // owned by it. nullptr when the player shows no video.
    virtual QWidget *videoWidget(QWidget *parent) = 0;
    // The video window, or nullptr when there is none yet.
    virtual QWidget *videoWindow() const = 0;

    // Starts opening the file and returns at once; whatever was open before is closed. The
    // answer always comes later, from the event loop: mediaOpened() and then
    // openFinished(true), the player paused at the start; or openFinished(false), with
    // lastErrorText() saying why and nothing open.
    virtual void open(const QString &path) = 0;
    // Stops the open on its way, if any: nothing is open afterwards and no openFinished() comes.
    virtual void cancelOpen() = 0;
    virtual bool isOpening() const = 0;
    virtual QString lastErrorText() const = 0;
    virtual void close() = 0;

    virtual void pause() = 0;
    virtual void play() = 0;
    virtual void togglePause() = 0;
    virtual bool isPaused() const = 0;
    virtual int stateCode() const = 0;

    // Exact seek; the picture and position follow asynchronously.
    virtual void seek(qint64 micros) = 0;
    // A seek that may land on a nearby key frame instead, for pictures shown while the user
    // drags over the timeline; an exact seek where the player has no faster one.
    virtual void seekFast(qint64 micros) { seek(micros); }
    // The start time of the frame on screen (microseconds, from the start of the media), -1
    // when nothing is open. Right after a seek it may still be the time before the seek.
    virtual qint64 currentPosition() const = 0;
    // Shows the next (1) or the previous (-1) frame and stays paused there; the position
    // follows asynchronously. Steps asked for while one is on its way are made one after the
    // other: N steps move N frames.
    virtual void stepFrame(int direction) = 0;
    // Frames a second of the open file's video as its container tells; 0 when unknown.
    virtual double frameRate() const { return 0; }
    // The frame steps asked for that have not landed yet; stepsLanded() says when none is left.
    virtual int pendingSteps() const { return 0; }

    virtual bool isMuted() const = 0;
    virtual void setMuted(bool muted) = 0;
    // 0..128, 128 being full volume; values outside are clamped.
    virtual void setVolume(int volume) = 0;

    // Display (the area given to the video) and picture (the drawn picture) sizes in pixels.
    virtual int displayWidth() const = 0;
    virtual int displayHeight() const = 0;
    virtual void setDisplayWidth(int width) = 0;
    virtual void setDisplayHeight(int height) = 0;
    virtual int pictureWidth() const = 0;
    virtual int pictureHeight() const = 0;
    virtual void setPictureWidth(int width) = 0;
    virtual void setPictureHeight(int height) = 0;
    virtual void applySize() = 0;

Q_SIGNALS:
    void mediaOpened(qint64 durationMicros);
    void openFinished(bool opened);
    void stepsLanded();
    void positionChanged(qint64 micros);
    void stateChanged(int code);
};
