#include "fakemainview.h"
#include "fakeplayer.h"
#include "fakeprobe.h"
#include "openfilters.h"
#include "playback.h"
#include "rangemarks.h"
#include "sharedvalues.h"

#include <QTest>

// Opening, transport and range marking, driven through the engine doubles and a view double.
class TestPlayback : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cancelledOpenChangesNothing();
    void openSetsEverything();
    void openFolderRemembered();
    void failedOpenReturnsToNoFile();
    void cancelledOpen_data();
    void cancelledOpen();
    void transportWaitsForTheOpen();
    void marksWaitForTheSteps();
    void rmvbAndProbe_data();
    void rmvbAndProbe();
    void bitrate_data();
    void bitrate();
    void zeroLengthFile();
    void positionEvents();
    void rmvbPositionUsesProbe();
    void endOfMediaRewinds();
    void playPause();
    void goToStartAndEnd();
    void sliderRelease_data();
    void sliderRelease();
    void refreshStillFrame();
    void volumeAndMute();
    void timerTick();
    void probeFailureForgetsPictureSize();
    void marking_data();
    void marking();
    void typedStartWhilePausedMovesEverything();
    void marksFollowTheFrameOnScreen();
    void filters();

private:
    void openClip(qint64 durationMicros = 100000000,
                  const QString &name = QStringLiteral("/v/clip.mp4"));

    std::unique_ptr<FakePlayer> m_player;
    FakeProbe m_probe;
    SharedValues m_shared;
    FakeMainView m_view;
    std::unique_ptr<Playback> m_playback;
    std::unique_ptr<RangeMarks> m_marks;
};

void TestPlayback::init()
{
    m_player = std::make_unique<FakePlayer>();
    m_probe = FakeProbe();
    m_shared = SharedValues();
    m_view = FakeMainView();
    m_playback = std::make_unique<Playback>(*m_player, m_probe, m_shared, m_view);
    m_marks = std::make_unique<RangeMarks>(*m_playback, *m_player, m_shared, m_view);
    connect(m_player.get(), &Player::mediaOpened, this,
            [this](qint64 d) { m_playback->onMediaOpened(d); });
}

void TestPlayback::openClip(qint64 durationMicros, const QString &name)
{
    m_player->openDuration = durationMicros;
    m_view.chosenFile = name;
    m_playback->openCommand();
    QTRY_VERIFY(!m_playback->opening());
}

void TestPlayback::cancelledOpenChangesNothing()
{
    m_shared.InputFilePath = QStringLiteral("/v/before.mp4");
    m_view.play = false;
    m_view.chosenFile.clear();
    m_playback->openCommand();
    QCOMPARE(m_player->calls, QStringList { "pause" });
    QVERIFY(m_view.play);
    QVERIFY(!m_view.guideHidden);
    QCOMPARE(m_shared.InputFilePath, QStringLiteral("/v/before.mp4"));
    QCOMPARE(m_view.busyDepth, 0);
}

void TestPlayback::openSetsEverything()
{
    m_shared.CutStartSeconds = 12;
    openClip(83456789);
    QVERIFY(m_player->calls.contains(QStringLiteral("open:/v/clip.mp4")));
    QCOMPARE(m_playback->durationMicros(), 83456789);
    QCOMPARE(m_playback->durationText(), QStringLiteral("00:01:23.4"));
    QCOMPARE(m_view.max, 835); // 834.56789 rounded
    QCOMPARE(m_view.label1, QStringLiteral("00:00:00.0/00:01:23.4"));
    QCOMPARE(m_view.start, QStringLiteral("00:00:00.0"));
    QCOMPARE(m_view.end, QStringLiteral("00:01:23.4"));
    QCOMPARE(m_playback->durationTenths(), 834.56789);
    QCOMPARE(m_playback->range().end(), 83.456789);
    QCOMPARE(m_shared.InputFilePath, QStringLiteral("/v/clip.mp4"));
    QCOMPARE(m_view.caption, QStringLiteral("/v/clip.mp4 - Snipora"));
    QVERIFY(m_view.fileControls);
    QVERIFY(m_view.cut);
    QVERIFY(m_view.guideHidden);
    QCOMPARE(m_shared.CutStartSeconds, 0.0);
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_view.selStart, 0);
    QCOMPARE(m_view.selLength, 835);
    QCOMPARE(m_shared.SourceWidth, 640);
    QCOMPARE(m_shared.SourceHeight, 360);
    QVERIFY(m_shared.SourceHasVideo);
    QVERIFY(!m_shared.SourceIsRmvb);
    QCOMPARE(m_view.busyDepth, 0);
}

void TestPlayback::openFolderRemembered()
{
    openClip(1000000, QStringLiteral("/home/ann/Videos/a.mkv"));
    QCOMPARE(m_playback->lastOpenFolder(), QStringLiteral("/home/ann/Videos/"));
    m_view.chosenFile.clear();
    m_playback->openCommand();
    QCOMPARE(m_view.chooserFolder, QStringLiteral("/home/ann/Videos/"));
}

void TestPlayback::failedOpenReturnsToNoFile()
{
    openClip();
    m_view.value = 300;
    m_player->openSucceeds = false;
    m_player->errorText = QStringLiteral("Not a media file, or a damaged one: /v/x.mp4");
    openClip(5000000, QStringLiteral("/v/x.mp4"));
    QCOMPARE(m_view.messages, QStringList { m_player->errorText });
    // The old file is closed, not left playing behind a window that says "no file".
    QCOMPARE(m_player->calls.last(), QStringLiteral("close"));
    QCOMPARE(m_shared.SourceWidth, 0);
    QCOMPARE(m_view.start, QStringLiteral("00:00:00.0"));
    QCOMPARE(m_view.end, QStringLiteral("00:00:00.0"));
    QCOMPARE(m_view.label1, QStringLiteral("00:00:00.0/00:00:00.0"));
    QCOMPARE(m_view.caption, QString());
    QCOMPARE(m_shared.InputFilePath, QString());
    QVERIFY(!m_view.fileControls);
    QVERIFY(!m_view.cut);
    QCOMPARE(m_view.clears, 1);
    QVERIFY(!m_view.guideHidden); // no file: the start hint again
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_view.selLength, 0);
    QCOMPARE(m_view.selStart, 0);
    QCOMPARE(m_playback->durationText(), QString());
    QCOMPARE(m_view.busyDepth, 0);
}

// An open given up while on its way, with no file before it or with one, and given up by
// choosing another file: the window is as it was before it.
void TestPlayback::cancelledOpen_data()
{
    QTest::addColumn<bool>("fileBefore");
    QTest::addColumn<bool>("byAnotherOpen");
    QTest::newRow("nothing open before") << false << false;
    QTest::newRow("a file open before") << true << false;
    QTest::newRow("replaced by another open") << true << true;
}

void TestPlayback::cancelledOpen()
{
    QFETCH(bool, fileBefore);
    QFETCH(bool, byAnotherOpen);
    if (fileBefore) {
        openClip(83456789, QStringLiteral("/v/before.mp4"));
        m_playback->onPosition(12000000);
        m_marks->setStart();
    }
    const QString caption = m_view.caption;
    const QString startBox = m_view.start;
    const QString folder = m_playback->lastOpenFolder();
    m_player->holdOpen = true;
    m_view.chosenFile = QStringLiteral("/slow/big.mkv");
    m_playback->openCommand();
    QVERIFY(m_playback->opening());
    QCOMPARE(m_view.opening, QStringLiteral("big.mkv"));
    QVERIFY(m_view.guideHidden);
    if (byAnotherOpen) {
        m_view.chosenFile = QStringLiteral("/slow/bigger.mkv");
        m_playback->openCommand();
        QCOMPARE(m_view.opening, QStringLiteral("bigger.mkv"));
    }
    m_playback->cancelOpen();
    QVERIFY(m_view.opening.isEmpty());
    QCOMPARE(m_view.busyDepth, 0);
    QCOMPARE(m_playback->lastOpenFolder(), folder);
    if (fileBefore) {
        // The file before comes back, at its frame, with its marks.
        QCOMPARE(m_player->calls.last(), QStringLiteral("open:/v/before.mp4"));
        m_player->finishOpen();
        QVERIFY(!m_playback->opening());
        QCOMPARE(m_player->seeks.last(), 12000000);
        QCOMPARE(m_playback->range().start(), 12.0);
        QCOMPARE(m_playback->durationMicros(), 83456789);
    } else {
        QCOMPARE(m_player->calls.count(QStringLiteral("cancelOpen")), 1);
    }
    QCOMPARE(m_view.guideHidden, fileBefore);
    QCOMPARE(m_view.caption, caption);
    QCOMPARE(m_view.start, startBox);
    QCOMPARE(m_shared.InputFilePath, fileBefore ? QStringLiteral("/v/before.mp4") : QString());
    QVERIFY(m_view.messages.isEmpty());
}

void TestPlayback::transportWaitsForTheOpen()
{
    openClip();
    m_player->holdOpen = true;
    m_view.chosenFile = QStringLiteral("/v/next.mp4");
    m_playback->openCommand();
    m_player->calls.clear();
    m_playback->playPause();
    m_playback->stepFrame(1);
    m_playback->jump(1);
    m_playback->goToEnd();
    m_playback->positionMouseUp(1, 4500);
    m_marks->setStart();
    QVERIFY(m_player->calls.isEmpty());
    QVERIFY(m_player->seeks.isEmpty());
    m_player->finishOpen();
    QCOMPARE(m_shared.InputFilePath, QStringLiteral("/v/next.mp4"));
    QVERIFY(m_view.fileControls);
    QCOMPARE(m_view.busyDepth, 0);
}

void TestPlayback::marksWaitForTheSteps()
{
    openClip();
    m_player->position = 4000000;
    m_player->stepsOnTheirWay = 3;
    m_playback->stepFrame(1);
    m_marks->setStart();
    m_marks->cut(); // after the mark, whatever comes first
    QCOMPARE(m_playback->range().start(), 0.0);
    QCOMPARE(m_view.dialogs, 0);
    m_player->stepsOnTheirWay = 1;
    m_playback->onPosition(4080000); // one landed, one still on its way
    QCOMPARE(m_playback->range().start(), 0.0);
    m_player->position = 4120000;
    m_player->stepsOnTheirWay = 0;
    m_playback->onPosition(m_player->position);
    Q_EMIT m_player->stepsLanded();
    QCOMPARE(m_playback->range().start(), 4.12);
    QCOMPARE(m_view.dialogs, 1);
    QCOMPARE(m_shared.CutStartSeconds, 4.12);
}

void TestPlayback::rmvbAndProbe_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("rmvb");
    QTest::newRow("upper case") << "/v/Film.RMVB" << true;
    QTest::newRow("lower case") << "/v/film.rmvb" << true;
    QTest::newRow("rm") << "/v/film.rm" << false;
    QTest::newRow("rmvb in the folder") << "/v.rmvb/film" << false;
}

void TestPlayback::rmvbAndProbe()
{
    QFETCH(QString, path);
    QFETCH(bool, rmvb);
    openClip(10000000, path);
    QCOMPARE(m_shared.SourceIsRmvb, rmvb);
}

void TestPlayback::bitrate_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<int>("audio");
    QTest::addColumn<int>("kbps");
    QTest::newRow("no audio") << qint64(10000000) << qint64(100000000) << 0 << 781;
    QTest::newRow("with audio") << qint64(10000000) << qint64(100000000) << 1 << 741;
    QTest::newRow("large file") << qint64(4000000000LL) << qint64(3600000000LL) << 1 << 8641;
}

void TestPlayback::bitrate()
{
    QFETCH(qint64, size);
    QFETCH(qint64, duration);
    QFETCH(int, audio);
    QFETCH(int, kbps);
    m_probe.size = size;
    m_probe.audioCount = audio;
    openClip(duration);
    QCOMPARE(m_shared.SourceBitrateKbps, kbps);
}

void TestPlayback::zeroLengthFile()
{
    m_shared.SourceBitrateKbps = 999; // from an earlier file
    openClip(0);
    QCOMPARE(m_view.max, 0);
    QVERIFY(m_view.fileControls);
    QVERIFY(!m_view.cut); // nothing to cut
    QCOMPARE(m_shared.SourceBitrateKbps, 0);
    m_playback->onPosition(40000);
    m_playback->positionMouseUp(1, 4500);
    m_marks->setStart();
    m_marks->setEnd();
    QVERIFY(!m_view.cut);
}

void TestPlayback::positionEvents()
{
    openClip();
    m_playback->onPosition(12345678);
    QCOMPARE(m_playback->positionSeconds(), 12.345678);
    QCOMPARE(m_view.value, 123);
    QCOMPARE(m_view.label1, QStringLiteral("00:00:12.3/00:01:40.0"));
    m_playback->onPosition(0); // time 0 does not move the slider
    QCOMPARE(m_view.value, 123);
    QCOMPARE(m_playback->positionSeconds(), 0.0);
    m_playback->goToStart(); // freezes updates
    m_playback->onPosition(50000000);
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_playback->positionSeconds(), 50.0);
    m_playback->positionMouseDown(2); // any button unfreezes
    m_playback->onPosition(50000000);
    QCOMPARE(m_view.value, 500);
}

void TestPlayback::rmvbPositionUsesProbe()
{
    openClip(100000000, QStringLiteral("/v/film.rmvb"));
    m_probe.calls.clear();
    m_playback->onPosition(5000000);
    QCOMPARE(m_probe.calls, (QStringList { "positionAtTime", "step" }));
    QCOMPARE(m_playback->positionSeconds(), 4.96); // the frame before
}

void TestPlayback::endOfMediaRewinds()
{
    openClip();
    m_player->play();
    m_view.play = false;
    m_view.value = 999;
    m_player->calls.clear();
    m_playback->onStateChanged(Player::StateEnded);
    QCOMPARE(m_player->seeks.last(), 0);
    QVERIFY(m_player->paused);
    QCOMPARE(m_view.value, 0);
    QVERIFY(m_view.play);
    m_playback->onStateChanged(Player::StateVideoReady);
    QCOMPARE(m_view.repaints, 0); // the double has no video window to repaint
    m_playback->onStateChanged(Player::StatePlaying); // other codes: nothing
    QCOMPARE(m_player->seeks.size(), 1);
}

void TestPlayback::playPause()
{
    openClip();
    m_playback->playPause();
    QVERIFY(!m_player->paused);
    QVERIFY(!m_view.play);
    m_playback->playPause();
    QVERIFY(m_player->paused);
    QVERIFY(m_view.play);
}

void TestPlayback::goToStartAndEnd()
{
    openClip(83456789);
    m_view.value = 400;
    m_playback->goToEnd();
    QCOMPARE(m_view.value, 835);
    QCOMPARE(m_player->seeks.mid(m_player->seeks.size() - 2),
             (QList<qint64> { 83456789, 83456789 }));
    QCOMPARE(m_view.label1, QStringLiteral("00:01:23.4/00:01:23.4"));
    QVERIFY(m_playback->freezePositionUpdates());
    QCOMPARE(m_playback->positionSeconds(), 83.456789);
    QVERIFY(m_view.play);

    m_playback->goToStart();
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_player->seeks.last(), 0);
    QCOMPARE(m_view.label1, QStringLiteral("00:00:00.0/00:01:23.4"));
    QCOMPARE(m_playback->positionSeconds(), 0.0);
    QCOMPARE(m_playback->range().start(), 0.0);
}

void TestPlayback::sliderRelease_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("value");
    QTest::addColumn<qint64>("target");
    QTest::newRow("middle") << 4500.0 << 500 << qint64(50000000);
    QTest::newRow("left of the track") << -300.0 << 0 << qint64(0);
    QTest::newRow("right of the track") << 12000.0 << 1000 << qint64(100000000);
}

void TestPlayback::sliderRelease()
{
    QFETCH(double, x);
    QFETCH(int, value);
    QFETCH(qint64, target);
    openClip();
    m_player->seeks.clear();
    m_playback->positionMouseUp(1, x);
    QCOMPARE(m_view.value, value);
    QCOMPARE(m_player->seeks.first(), target);
    QCOMPARE(m_playback->positionSeconds(), value / 10.0);
    QCOMPARE(m_view.busyDepth, 0);
    m_player->seeks.clear();
    m_playback->positionMouseUp(2, x); // only the left button seeks
    QVERIFY(m_player->seeks.isEmpty());
}

void TestPlayback::refreshStillFrame()
{
    openClip();
    m_player->state = Player::StatePaused;
    m_player->calls.clear();
    m_playback->refreshStillFrame(7000000);
    QCOMPARE(m_player->calls, (QStringList { "mute", "play", "pause", "seek", "unmute" }));
    QCOMPARE(m_player->seeks.last(), 7000000);
    // Already muted: stays muted.
    m_player->muted = true;
    m_player->state = Player::StateStopped;
    m_player->calls.clear();
    m_playback->refreshStillFrame(1);
    QCOMPARE(m_player->calls, (QStringList { "play", "pause", "seek" }));
    // Playing, or a file without video: nothing.
    m_player->state = Player::StatePlaying;
    m_player->calls.clear();
    m_playback->refreshStillFrame(1);
    QVERIFY(m_player->calls.isEmpty());
    m_player->state = Player::StatePaused;
    m_shared.SourceHasVideo = false;
    m_playback->refreshStillFrame(1);
    QVERIFY(m_player->calls.isEmpty());
}

void TestPlayback::volumeAndMute()
{
    m_playback->volumeMouseUp(1, 540); // (540 - 90) * 128 / 900 = 64
    QCOMPARE(m_view.volume, 64);
    QCOMPARE(m_player->volume, 64);
    QCOMPARE(m_view.volumeSel, 64);
    m_view.volume = 100;
    m_playback->volumeClick();
    QCOMPARE(m_view.volumeSel, 100);
    m_playback->muteClick();
    QVERIFY(m_player->muted);
    QVERIFY(m_view.muted);
    m_playback->muteClick();
    QVERIFY(!m_player->muted);
    QVERIFY(!m_view.muted);
}

void TestPlayback::timerTick()
{
    // Before any file: the ticks bring the player's sizes in step, one per tick, then stop.
    m_view.label1 = QStringLiteral("design");
    for (int i = 0; i < 6; ++i)
        m_playback->timerTick();
    QCOMPARE(m_player->displayWidth(), 800);
    QCOMPARE(m_player->displayHeight(), 478);
    QCOMPARE(m_player->pictureWidth(), 800);
    QCOMPARE(m_player->pictureHeight(), 478);
    QCOMPARE(m_player->calls.count(QStringLiteral("applySize")), 4);
    QCOMPARE(m_view.label1, QStringLiteral("design"));
    openClip();
    m_view.value = 123;
    m_player->position = 12300000;
    m_marks->setStart();
    m_playback->timerTick();
    QCOMPARE(m_view.label1, QStringLiteral("00:00:12.3/00:01:40.0"));
    QCOMPARE(m_view.labelDuration, QStringLiteral("Duration:00:01:27.7"));
}

void TestPlayback::probeFailureForgetsPictureSize()
{
    openClip(10000000, QStringLiteral("/v/a.mp4"));
    QCOMPARE(m_shared.SourceWidth, 640);
    m_probe.openSucceeds = false;
    openClip(10000000, QStringLiteral("/v/b.mp4"));
    QCOMPARE(m_shared.SourceWidth, 0);
    QCOMPARE(m_shared.SourceHeight, 0);
}

// A user's sequence of marking steps on a 100 s clip, and what the window and the cut show
// afterwards. Steps: "at S" (the frame on screen is at S seconds), "play", "start", "end"
// (the buttons), "type-start T" / "type-end T" (typed, not confirmed), "enter-start" /
// "enter-end" (Enter in the box), "cut".
void TestPlayback::marking_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("startBox");
    QTest::addColumn<QString>("endBox");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<bool>("cutEnabled");
    QTest::addColumn<int>("dialogs");
    QTest::addColumn<double>("cutStart");
    QTest::addColumn<double>("cutLength");

    QTest::newRow("whole file") << "cut"
                                << "00:00:00.0"
                                << "00:01:40.0" << 0 << 1000 << true << 1 << 0.0 << 100.0;
    QTest::newRow("marks are the frames, not the slider's tenths")
        << "at 12.52; start; at 42.48; end; cut"
        << "00:00:12.5"
        << "00:00:42.4" << 125 << 300 << true << 1 << 12.52 << 29.96;
    QTest::newRow("end before start, then a new end")
        << "at 3; start; at 2; end; at 5; end; cut"
        << "00:00:02.0"
        << "00:00:05.0" << 20 << 30 << true << 1 << 2.0 << 3.0;
    QTest::newRow("end before start empties the range")
        << "at 40; start; at 25; end; cut"
        << "00:00:25.0"
        << "00:00:25.0" << 250 << 0 << false << 0 << 25.0 << 0.0;
    QTest::newRow("start at the very end")
        << "at 100; start; cut"
        << "00:01:40.0"
        << "00:01:40.0" << 1000 << 0 << false << 0 << 100.0 << 0.0;
    QTest::newRow("typed end, Cut without Enter")
        << "type-end 00:00:03.0; cut"
        << "00:00:00.0"
        << "00:00:03.0" << 0 << 30 << true << 1 << 0.0 << 3.0;
    QTest::newRow("typed start and end, Cut without Enter")
        << "type-start 00:00:02.0; type-end 00:00:03.0; cut"
        << "00:00:02.0"
        << "00:00:03.0" << 20 << 10 << true << 1 << 2.0 << 1.0;
    QTest::newRow("typed start while playing, then Set end without Enter")
        << "play; at 5; type-start 00:00:01.0; at 7; end; cut"
        << "00:00:01.0"
        << "00:00:07.0" << 10 << 60 << true << 1 << 1.0 << 6.0;
    QTest::newRow("paused typed start, then Set start")
        << "at 5; type-start 00:00:01.0; enter-start; start; cut"
        << "00:00:01.0"
        << "00:01:40.0" << 10 << 990 << true << 1 << 1.0 << 99.0;
    QTest::newRow("typed start while playing")
        << "play; at 33.3; type-start 00:00:20.0; enter-start; cut"
        << "00:00:20.0"
        << "00:01:40.0" << 200 << 800 << true << 1 << 20.0 << 80.0;
    // An end past the file's end is the file's end; a start past it empties the range.
    QTest::newRow("typed start past the file")
        << "type-start 00:02:00.0; type-end 00:03:00.0; cut"
        << "00:02:00.0"
        << "00:01:40.0" << 1200 << 0 << false << 0 << 120.0 << 0.0;
    QTest::newRow("typed end past the file")
        << "type-end 00:05:00.0; cut"
        << "00:00:00.0"
        << "00:01:40.0" << 0 << 1000 << true << 1 << 0.0 << 100.0;
    // A box read as far as it is typed; what is no time at all brings the mark back.
    QTest::newRow("partly typed seconds") << "type-end 00:00:1_._; cut"
                                          << "00:00:00.0"
                                          << "00:00:01.0" << 0 << 10 << true << 1 << 0.0 << 1.0;
    QTest::newRow("one digit is no time")
        << "at 20; start; type-start 5_:__:__._; enter-start; cut"
        << "00:00:20.0"
        << "00:01:40.0" << 200 << 800 << true << 1 << 20.0 << 80.0;
    QTest::newRow("unparsable boxes") << "type-start __:01:__._; type-end garbage; cut"
                                      << "00:00:00.0"
                                      << "00:01:40.0" << 0 << 1000 << true << 1 << 0.0 << 100.0;
}

void TestPlayback::marking()
{
    QFETCH(QString, steps);
    openClip();
    for (const QString &step : steps.split(QLatin1Char(';'))) {
        const QString verb = step.trimmed().section(QLatin1Char(' '), 0, 0);
        const QString arg = step.trimmed().section(QLatin1Char(' '), 1);
        if (verb == QLatin1String("at")) {
            m_player->position = qint64(arg.toDouble() * 1e6);
            m_playback->onPosition(m_player->position);
        } else if (verb == QLatin1String("play")) {
            m_playback->playPause();
        } else if (verb == QLatin1String("start")) {
            m_marks->setStart();
        } else if (verb == QLatin1String("end")) {
            m_marks->setEnd();
        } else if (verb == QLatin1String("type-start")) {
            m_view.start = arg;
            m_view.startEdited = true;
        } else if (verb == QLatin1String("type-end")) {
            m_view.end = arg;
            m_view.endEdited = true;
        } else if (verb == QLatin1String("enter-start")) {
            m_view.startEdited = false;
            m_marks->editStart();
        } else if (verb == QLatin1String("enter-end")) {
            m_view.endEdited = false;
            m_marks->editEnd();
        } else if (verb == QLatin1String("cut")) {
            m_marks->cut();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
    QTRY_VERIFY(!m_playback->waitingForFrame());
    QTEST(m_view.start, "startBox");
    QTEST(m_view.end, "endBox");
    QTEST(m_view.selStart, "selStart");
    QTEST(m_view.selLength, "selLength");
    QTEST(m_view.cut, "cutEnabled");
    QTEST(m_view.dialogs, "dialogs");
    QFETCH(double, cutStart);
    QFETCH(double, cutLength);
    QCOMPARE(m_shared.CutStartSeconds, cutStart);
    QVERIFY2(std::abs(m_shared.CutLengthSeconds - cutLength) < 1e-9,
             qPrintable(QString::number(m_shared.CutLengthSeconds, 'g', 17)));
    QVERIFY(m_player->paused || !steps.contains(QLatin1String("cut")));
}

void TestPlayback::typedStartWhilePausedMovesEverything()
{
    openClip(83456789);
    m_player->seeks.clear();
    m_view.start = QStringLiteral("00:00:20.3");
    m_marks->editStart();
    // The picture goes to the typed time itself, and the slider and its label with it.
    QCOMPARE(m_player->seeks.first(), 20300000);
    QCOMPARE(m_view.value, 203);
    QCOMPARE(m_view.label1, QStringLiteral("00:00:20.3/00:01:23.4"));
    QCOMPARE(m_playback->positionSeconds(), 20.3);
    QCOMPARE(m_view.labelDuration, QStringLiteral("Duration:00:01:03.1"));
}

void TestPlayback::marksFollowTheFrameOnScreen()
{
    openClip();
    // A seek of ours has not landed: the mark is its target, not the old frame.
    m_player->position = 5000000;
    m_view.value = 500;
    m_playback->positionMouseUp(1, 120 + 0.3 * 8760); // 30 % along the track
    QCOMPARE(m_view.value, 300);
    m_marks->setStart();
    QTRY_COMPARE(m_playback->range().start(), 30.0);
    // Once the player reports the frame, the frame's own time counts.
    m_player->position = 1040000;
    m_playback->onPosition(m_player->position);
    m_marks->setEnd();
    QCOMPARE(m_playback->range().end(), 1.04);
}

void TestPlayback::filters()
{
    const QStringList f = MediaOpenFilters();
    QCOMPARE(f.size(), 33);
    QVERIFY(f.first().startsWith(QStringLiteral("All Supported Media Files (*.3gp *.3g2")));
    QVERIFY(f.first().contains(QStringLiteral(" *.3g ")));
    QVERIFY(f.first().contains(QStringLiteral(" *.3gp2 ")));
    QVERIFY(!f.join(QString()).contains(QStringLiteral("*,")));
    QCOMPARE(f.at(4),
             QStringLiteral("Audio - Audio InterChange File Format (*.aif;*.aiff) (*.aif *.aiff)"));
    QCOMPARE(f.last(), QStringLiteral("All Files (*.*) (*)"));
    QVERIFY(f.at(1).endsWith(QStringLiteral("*.m4r *.wv)")));
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
