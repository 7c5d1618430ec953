#pragma once

#include "player.h"

#include <QStringList>
#include <QWidget>

// A player double: records what it is asked, reports what the test sets.
class FakePlayer final : public Player
{
    Q_OBJECT
public:
    using Player::Player;

    // Set by the test
    bool libraryAvailable = true;
    bool openSucceeds = true;
    bool holdOpen = false;
    qint64 openDuration = 10000000;
    QString errorText = QStringLiteral("Cannot open the file.");

    // Recorded
    QStringList calls;
    QList<qint64> seeks;
    int volume = 128;
    bool muted = false;
    bool paused = true;
    int state = StateNoMedia;
    bool loaded = false;
    qint64 position = -1; // what currentPosition() reports
    bool opening = false;
    int stepsOnTheirWay = 0; // what pendingSteps() reports

    bool isLibraryLoaded() const override { return loaded; }
    bool loadLibrary() override
    {
        calls << QStringLiteral("loadLibrary");
        loaded = libraryAvailable;
        return loaded;
    }
    QWidget *videoWidget(QWidget *parent) override
    {
        if (!m_widget)
            m_widget = new QWidget(parent);
        return m_widget;
    }
    QWidget *videoWindow() const override { return m_widget; }
    // Answers from the event loop, as the real player does; with holdOpen the open waits for
    // finishOpen().
    void open(const QString &path) override
    {
        calls << QStringLiteral("open:") + path;
        state = StateNoMedia;
        opening = true;
        const quint64 serial = ++m_openSerial;
        if (!holdOpen)
            QMetaObject::invokeMethod(
                this,
                [this, serial] {
                    if (serial == m_openSerial)
                        finishOpen();
                },
                Qt::QueuedConnection);
    }
    void finishOpen()
    {
        if (!opening)
            return;
        opening = false;
        if (!openSucceeds) {
            Q_EMIT openFinished(false);
            return;
        }
        state = StateStopped;
        paused = true;
        Q_EMIT mediaOpened(openDuration);
        Q_EMIT openFinished(true);
    }
    void cancelOpen() override
    {
        if (!opening)
            return;
        calls << QStringLiteral("cancelOpen");
        opening = false;
        ++m_openSerial;
    }
    bool isOpening() const override { return opening; }
    QString lastErrorText() const override { return errorText; }
    void close() override
    {
        calls << QStringLiteral("close");
        state = StateNoMedia;
    }
    void pause() override
    {
        calls << QStringLiteral("pause");
        paused = true;
        if (state == StatePlaying)
            state = StatePaused;
    }
    void play() override
    {
        calls << QStringLiteral("play");
        paused = false;
        state = StatePlaying;
    }
    void togglePause() override { paused ? play() : pause(); }
    bool isPaused() const override { return paused; }
    int stateCode() const override { return state; }
    void seek(qint64 micros) override
    {
        calls << QStringLiteral("seek");
        seeks << micros;
    }
    qint64 currentPosition() const override { return position; }
    void stepFrame(int direction) override
    {
        calls << QStringLiteral("step:%1").arg(direction);
        if (state == StateStopped)
            state = StatePaused;
    }
    int pendingSteps() const override { return stepsOnTheirWay; }
    bool isMuted() const override { return muted; }
    void setMuted(bool m) override
    {
        calls << (m ? QStringLiteral("mute") : QStringLiteral("unmute"));
        muted = m;
    }
    void setVolume(int v) override { volume = v; }
    int displayWidth() const override { return m_dw; }
    int displayHeight() const override { return m_dh; }
    void setDisplayWidth(int w) override { m_dw = w; }
    void setDisplayHeight(int h) override { m_dh = h; }
    int pictureWidth() const override { return m_pw; }
    int pictureHeight() const override { return m_ph; }
    void setPictureWidth(int w) override { m_pw = w; }
    void setPictureHeight(int h) override { m_ph = h; }
    void applySize() override { calls << QStringLiteral("applySize"); }

private:
    QWidget *m_widget = nullptr;
    quint64 m_openSerial = 0;
    int m_dw = 0, m_dh = 0, m_pw = 0, m_ph = 0;
};
