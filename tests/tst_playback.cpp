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
    void setStartAtVeryEnd();
    void setEndBeforeStart();
    void setStartAndEnd();
    void typedStartPastLength();
    void typedStartWhilePaused();
    void typedStartWhilePlaying();
    void typedEndPastLength();
    void unparsableTimeCodes();
    void cutWholeFileAfterOpen();
    void cutFixesNegativeStart();
    void filters();

private:
    void openClip(qint64 durationMicros = 100000000, const QString &name = QStringLiteral("/v/clip.mp4"));

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
}

void TestPlayback::cancelledOpenChangesNothing()
{
    m_shared.InputFilePath = QStringLiteral("/v/before.mp4");
    m_view.play = false;
    m_view.chosenFile.clear();
    m_playback->openCommand();
    QCOMPARE(m_player->calls, QStringList{"pause"});
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
    QCOMPARE(m_playback->range().endTenths, 834.56789);
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
    QCOMPARE(m_view.messages, QStringList{m_player->errorText});
    QCOMPARE(m_view.caption, QString());
    QCOMPARE(m_shared.InputFilePath, QString());
    QVERIFY(!m_view.fileControls);
    QVERIFY(!m_view.cut);
    QCOMPARE(m_view.clears, 1);
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_view.selLength, 0);
    QCOMPARE(m_view.selStart, 0);
    QCOMPARE(m_playback->durationText(), QStringLiteral("00:01:40.0")); // kept
    QCOMPARE(m_view.busyDepth, 0);
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
    QCOMPARE(m_probe.calls, (QStringList{"positionAtTime", "step"}));
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
    QCOMPARE(m_player->seekFlags.last(), int(Player::SeekRewindAtEnd));
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
    QCOMPARE(m_player->seeks.mid(m_player->seeks.size() - 2), (QList<qint64>{83456789, 83456789}));
    QCOMPARE(m_view.label1, QStringLiteral("00:01:23.4/00:01:23.4"));
    QVERIFY(m_playback->freezePositionUpdates());
    QCOMPARE(m_playback->positionSeconds(), 83.456789);
    QVERIFY(m_view.play);
    QCOMPARE(m_view.pumps, 2);

    m_playback->goToStart();
    QCOMPARE(m_view.value, 0);
    QCOMPARE(m_player->seeks.last(), 0);
    QCOMPARE(m_view.label1, QStringLiteral("00:00:00.0/00:01:23.4"));
    QCOMPARE(m_playback->positionSeconds(), 0.0);
    QCOMPARE(m_playback->range().startTenths, 0.0);
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
    QCOMPARE(m_player->calls, (QStringList{"mute", "play", "pause", "seek", "unmute"}));
    QCOMPARE(m_player->seeks.last(), 7000000);
    // Already muted: stays muted.
    m_player->muted = true;
    m_player->state = Player::StateStopped;
    m_player->calls.clear();
    m_playback->refreshStillFrame(1);
    QCOMPARE(m_player->calls, (QStringList{"play", "pause", "seek"}));
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
    m_marks->setStart();
    m_playback->timerTick();
    QCOMPARE(m_view.label1, QStringLiteral("00:00:12.3/00:01:40.0"));
    QCOMPARE(m_view.labelDuration, QStringLiteral("Duration:00:01:27.7"));
}

void TestPlayback::setStartAtVeryEnd()
{
    openClip();
    m_view.value = m_view.max;
    m_marks->setStart();
    QVERIFY(!m_view.cut);
    QCOMPARE(m_view.selLength, 0);
    QCOMPARE(m_playback->range().startTenths, 1000.0);
    QCOMPARE(m_playback->range().endTenths, 1000.0);
    QCOMPARE(m_view.start, QStringLiteral("00:01:40.0"));
}

void TestPlayback::setEndBeforeStart()
{
    openClip();
    m_view.value = 400;
    m_marks->setStart();
    QCOMPARE(m_view.start, QStringLiteral("00:00:40.0"));
    m_view.value = 250;
    m_marks->setEnd();
    QVERIFY(!m_view.cut);
    QCOMPARE(m_view.selLength, 0);
    QCOMPARE(m_view.selStart, 250);
    QCOMPARE(m_playback->range().startTenths, 250.0);
    QCOMPARE(m_playback->range().endTenths, 250.0);
    QCOMPARE(m_view.start, QStringLiteral("00:00:40.0")); // the Start box keeps its text
    QCOMPARE(m_view.end, QStringLiteral("00:00:25.0"));
}

void TestPlayback::setStartAndEnd()
{
    openClip();
    m_playback->onPosition(12500000);
    m_marks->setStart();
    QCOMPARE(m_shared.CutStartSeconds, 12.5);
    QCOMPARE(m_view.selStart, 125);
    QCOMPARE(m_view.selLength, 875);
    m_playback->onPosition(42500000);
    m_marks->setEnd();
    QVERIFY(m_view.cut);
    QCOMPARE(m_view.selLength, 300);
    m_marks->cut();
    QCOMPARE(m_shared.CutStartSeconds, 12.5);
    QCOMPARE(m_shared.CutLengthSeconds, 30.0);
    QCOMPARE(m_view.dialogs, 1);
}

void TestPlayback::typedStartPastLength()
{
    openClip();
    m_shared.CutStartSeconds = 3;
    m_player->seeks.clear();
    m_view.start = QStringLiteral("00:02:00.0");
    m_marks->editStart();
    QCOMPARE(m_view.selStart, 1200);
    QVERIFY(!m_view.cut);
    QCOMPARE(m_view.selLength, 0);
    QVERIFY(m_player->seeks.isEmpty());
    QCOMPARE(m_shared.CutStartSeconds, 3.0);
}

void TestPlayback::typedStartWhilePaused()
{
    openClip();
    m_player->seeks.clear();
    m_view.start = QStringLiteral("00:00:20.5");
    m_marks->editStart();
    QCOMPARE(m_player->seeks.first(), 20500000);
    QCOMPARE(m_view.selStart, 205);
    QCOMPARE(m_view.selLength, 795);
    QVERIFY(m_view.cut);
    QCOMPARE(m_shared.CutStartSeconds, 20.5);
}

void TestPlayback::typedStartWhilePlaying()
{
    openClip();
    m_playback->playPause();
    m_playback->onPosition(33300000);
    m_player->seeks.clear();
    m_view.start = QStringLiteral("00:00:20.0");
    m_marks->editStart();
    QVERIFY(m_player->seeks.isEmpty());
    QCOMPARE(m_playback->range().startTenths, 200.0);
    QCOMPARE(m_shared.CutStartSeconds, 33.3); // the playback position, not the typed start
}

void TestPlayback::typedEndPastLength()
{
    openClip();
    m_view.end = QStringLiteral("00:05:00.0");
    m_marks->editEnd();
    QCOMPARE(m_playback->range().endTenths, 3000.0);
    QVERIFY(m_view.cut);
    QCOMPARE(m_view.selLength, 3000);
    m_marks->cut();
    QCOMPARE(m_shared.CutLengthSeconds, 300.0);
}

void TestPlayback::unparsableTimeCodes()
{
    openClip();
    m_view.start = QStringLiteral("__:01:__._");
    m_marks->editStart();
    QCOMPARE(m_playback->range().startTenths, 600.0);
    m_view.end = QStringLiteral("garbage");
    m_marks->editEnd();
    QCOMPARE(m_playback->range().endTenths, 0.0);
    QVERIFY(!m_view.cut);
}

void TestPlayback::cutWholeFileAfterOpen()
{
    openClip(83456789);
    m_playback->playPause();
    m_marks->cut();
    QVERIFY(m_player->paused);
    QVERIFY(m_view.play);
    QCOMPARE(m_shared.CutStartSeconds, 0.0);
    QCOMPARE(m_shared.CutLengthSeconds, 83.456789);
}

void TestPlayback::cutFixesNegativeStart()
{
    openClip();
    m_shared.CutStartSeconds = std::nan("");
    m_marks->cut();
    QCOMPARE(m_shared.CutStartSeconds, 0.0);
    m_shared.CutStartSeconds = -2;
    m_marks->cut();
    QCOMPARE(m_shared.CutStartSeconds, 0.0);
}

void TestPlayback::filters()
{
    const QStringList f = MediaOpenFilters();
    QCOMPARE(f.size(), 33);
    QVERIFY(f.first().startsWith(QStringLiteral("All Supported Media Files (*.3gp *.3g2")));
    QVERIFY(f.first().contains(QStringLiteral(" *.3g ")));
    QVERIFY(f.first().contains(QStringLiteral(" *.3gp2 ")));
    QVERIFY(!f.join(QString()).contains(QStringLiteral("*,")));
    QCOMPARE(f.at(4), QStringLiteral("Audio - Audio InterChange File Format (*.aif;*.aiff) (*.aif *.aiff)"));
    QCOMPARE(f.last(), QStringLiteral("All Files (*.*) (*)"));
    QVERIFY(f.at(1).endsWith(QStringLiteral("*.m4r *.wv)")));
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
