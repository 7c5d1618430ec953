#include "avlogging.h"
#include "avprobe.h"
#include "mediafixtures.h"
#include "mpvplayer.h"
#include "openplayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaFixtures;

// The libmpv player (headless: vo=null, ao=null) and the libavformat probe on generated media.
class TestPlayer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void openAnswersFromTheEventLoop();
    void openCancelledOrReplaced_data();
    void openCancelledOrReplaced();
    void seekIsExact();
    void positionEventsWhilePlaying();
    void pauseMuteVolume();
    void endOfMedia();
    void openFailures_data();
    void openFailures();
    void audioOnlyAndReplace();
    void probeSamples_data();
    void probeSamples();
    void probeStepsBack();
    void probeFailures();
    void probeFindsFramesAway();
    void probeOpensAway();

private:
    QTemporaryDir m_dir;
    QString m_clip, m_mp3, m_silent, m_surround, m_offset;
};

void TestPlayer::initTestCase()
{
    QuietLibavLogging();
    const QDir dir(m_dir.path());
    m_clip = makeH264Aac(dir);
    m_mp3 = makeMp3(dir);
    m_silent = makeVideoOnly(dir);
    m_surround = makeSurround(dir);
    m_offset = makeMpeg2Offset(dir);
    for (const QString &p : { m_clip, m_mp3, m_silent, m_surround, m_offset })
        QVERIFY(!p.isEmpty());
}

void TestPlayer::openAnswersFromTheEventLoop()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QStringList order;
    connect(&player, &Player::mediaOpened, this, [&order] { order << "opened"; });
    connect(&player, &Player::openFinished, this,
            [&order](bool ok) { order << (ok ? "finished" : "failed"); });
    QSignalSpy opened(&player, &Player::mediaOpened);
    player.open(m_clip);
    QVERIFY(player.isOpening());
    QVERIFY(order.isEmpty()); // nothing from within open()
    QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList { "opened", "finished" }), 20000);
    QVERIFY(!player.isOpening());
    const qint64 duration = opened.first().first().toLongLong();
    QVERIFY2(std::abs(duration - 10000000) <= 50000, qPrintable(QString::number(duration)));
    QVERIFY(player.isPaused());
    QCOMPARE(player.stateCode(), int(Player::StateStopped));
    QTRY_VERIFY(player.currentPosition() >= 0);
    QVERIFY(player.currentPosition() < 50000);
}

void TestPlayer::seekIsExact()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QVERIFY(OpenAndWait(player, m_clip));
    player.seek(5000000);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(player.currentPosition() - 5000000) <= 1000, 5000);
    player.seek(7300000); // between key frames: lands within a frame of the time
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(player.currentPosition() - 7300000) <= 40000, 5000);
    player.seek(-5); // clamped
    QTRY_VERIFY_WITH_TIMEOUT(player.currentPosition() <= 1000, 5000);
    QVERIFY(player.isPaused());
}

void TestPlayer::positionEventsWhilePlaying()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QVERIFY(OpenAndWait(player, m_clip));
    QSignalSpy position(&player, &Player::positionChanged);
    QSignalSpy state(&player, &Player::stateChanged);
    player.play();
    QVERIFY(!player.isPaused());
    QCOMPARE(player.stateCode(), int(Player::StatePlaying));
    QTest::qWait(1000);
    player.pause();
    QVERIFY2(position.count() >= 8, qPrintable(QString::number(position.count())));
    QVERIFY(position.last().first().toLongLong() > 300000);
    QCOMPARE(player.stateCode(), int(Player::StatePaused));
    QTest::qWait(150); // the frame the picture stops on may still be reported once
    const int count = position.count();
    QTest::qWait(300);
    QCOMPARE(position.count(), count); // then nothing while paused
    QVERIFY(state.count() >= 2);
}

void TestPlayer::pauseMuteVolume()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QVERIFY(OpenAndWait(player, m_clip));
    QVERIFY(!player.isMuted());
    player.setMuted(true);
    QVERIFY(player.isMuted());
    player.setMuted(false);
    QVERIFY(!player.isMuted());
    player.setVolume(64);
    QCOMPARE(player.volume(), 64);
    player.setVolume(500);
    QCOMPARE(player.volume(), 128);
    player.setVolume(-3);
    QCOMPARE(player.volume(), 0);
    player.togglePause();
    QVERIFY(!player.isPaused());
    player.togglePause();
    QVERIFY(player.isPaused());
}

void TestPlayer::endOfMedia()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QVERIFY(OpenAndWait(player, m_clip));
    QSignalSpy state(&player, &Player::stateChanged);
    player.seek(9600000);
    player.play();
    QTRY_VERIFY_WITH_TIMEOUT(state.contains(QVariantList { int(Player::StateEnded) }), 5000);
    QCOMPARE(player.stateCode(), int(Player::StateEnded));
    // Rewinding after the end leaves a paused player at 0.
    player.seek(0);
    player.pause();
    QTRY_VERIFY_WITH_TIMEOUT(player.currentPosition() <= 1000, 5000);
    QVERIFY(player.stateCode() != int(Player::StateEnded));
    player.play();
    QTest::qWait(300);
    QVERIFY(player.currentPosition() > 100000);

    // A paused seek to the very end is no end of playback; play then starts from the top.
    player.pause();
    state.clear();
    player.seek(10000000);
    QTest::qWait(500);
    QVERIFY(!state.contains(QVariantList { int(Player::StateEnded) }));
    player.play();
    QTest::qWait(300);
    QVERIFY2(player.currentPosition() < 2000000,
             qPrintable(QString::number(player.currentPosition())));
    QVERIFY(player.currentPosition() > 0);
}

void TestPlayer::openFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << "missing"
                             << "File not found";
    QTest::newRow("empty") << "empty"
                           << "empty";
    QTest::newRow("text named mp4") << "text"
                                    << "Not a media file";
    QTest::newRow("truncated mp4") << "truncated"
                                   << "";
    QTest::newRow("folder") << "folder"
                            << "cannot be read";
}

void TestPlayer::openFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath(kind + QStringLiteral(".mp4"));
    if (kind == QLatin1String("empty")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("text")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("This is a shopping list, not a film.\n");
    } else if (kind == QLatin1String("truncated")) {
        QFile src(m_clip);
        QVERIFY(src.open(QIODevice::ReadOnly));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(src.read(2000));
    } else if (kind == QLatin1String("folder")) {
        QDir().mkpath(path);
    }
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QSignalSpy opened(&player, &Player::mediaOpened);
    QSignalSpy finished(&player, &Player::openFinished);
    player.open(path);
    QCOMPARE(finished.count(), 0); // failures too answer from the event loop
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(opened.count(), 0);
    QVERIFY(!player.lastErrorText().isEmpty());
    QVERIFY2(player.lastErrorText().contains(expected), qPrintable(player.lastErrorText()));
    QCOMPARE(player.stateCode(), int(Player::StateNoMedia));
    // The player is still usable.
    QVERIFY(OpenAndWait(player, m_clip));
}

// An open given up (cancelOpen, close) or replaced by another: no answer of the one given up
// comes, ever, and the player opens the next file as usual.
void TestPlayer::openCancelledOrReplaced_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("cancelled") << "cancel";
    QTest::newRow("closed") << "close";
    QTest::newRow("replaced") << "replace";
    QTest::newRow("cancelled once opened") << "late cancel";
    QTest::newRow("closed and opened again at once") << "close, replace";
    QTest::newRow("replaced twice at once") << "replace, replace";
    QTest::newRow("player gone while its commands are on their way") << "destroy";
}

void TestPlayer::openCancelledOrReplaced()
{
    QFETCH(QString, how);
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QVERIFY(OpenAndWait(player, m_clip));
    QSignalSpy opened(&player, &Player::mediaOpened);
    QSignalSpy finished(&player, &Player::openFinished);
    player.open(m_mp3);
    if (how == QLatin1String("destroy")) {
        // The load on its way and the stop waiting behind it go with the player.
        auto *other = new MpvPlayer(MpvPlayer::Options { true });
        QVERIFY(other->loadLibrary());
        other->open(m_clip);
        other->close();
        other->open(m_silent);
        delete other;
        QVERIFY(finished.wait(20000));
        return;
    }
    if (how == QLatin1String("late cancel")) {
        QVERIFY(finished.wait(20000));
        player.cancelOpen(); // nothing on its way: nothing changes
        QCOMPARE(player.stateCode(), int(Player::StateStopped));
        return;
    }
    if (how.endsWith(QLatin1String("replace"))) {
        if (how.startsWith(QLatin1String("close")))
            player.close();
        else if (how.count(QLatin1String("replace")) == 2)
            player.open(m_clip);
        player.open(m_silent);
        QVERIFY(finished.wait(20000));
        QCOMPARE(opened.count(), 1);
        QVERIFY(std::abs(opened.first().first().toLongLong() - 4000000) <= 50000);
    } else {
        how == QLatin1String("cancel") ? player.cancelOpen() : player.close();
        QVERIFY(!player.isOpening());
        QCOMPARE(player.stateCode(), int(Player::StateNoMedia));
        QTest::qWait(1500);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(opened.count(), 0);
        QCOMPARE(player.currentPosition(), -1);
        QVERIFY(OpenAndWait(player, m_silent));
    }
    QTest::qWait(300);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(player.stateCode(), int(Player::StateStopped));
}

void TestPlayer::audioOnlyAndReplace()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(player.loadLibrary());
    QSignalSpy opened(&player, &Player::mediaOpened);
    QVERIFY(OpenAndWait(player, m_clip));
    player.play();
    QTest::qWait(200);
    QVERIFY(OpenAndWait(player, m_mp3)); // replaces in place, paused
    QVERIFY(player.isPaused());
    QCOMPARE(opened.count(), 2);
    QVERIFY(std::abs(opened.last().first().toLongLong() - 10000000) <= 100000);
    QVERIFY(OpenAndWait(player, m_silent));
    QVERIFY(std::abs(opened.last().first().toLongLong() - 4000000) <= 50000);
    player.close();
    QCOMPARE(player.stateCode(), int(Player::StateNoMedia));
}

void TestPlayer::probeSamples_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("videoCount");
    QTest::addColumn<int>("audioCount");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::newRow("h264 aac") << 0 << 1 << 1 << 640 << 360 << 1;
    QTest::newRow("mp3") << 1 << 0 << 1 << 0 << 0 << 1;
    QTest::newRow("video only") << 2 << 1 << 0 << 320 << 240 << 0;
    QTest::newRow("5.1 aac") << 3 << 0 << 1 << 0 << 0 << 6;
    QTest::newRow("mpeg-2 with offset") << 4 << 1 << 1 << 720 << 405 << 1;
}

void TestPlayer::probeSamples()
{
    QFETCH(int, sample);
    QFETCH(int, videoCount);
    QFETCH(int, audioCount);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    const QString path = QStringList { m_clip, m_mp3, m_silent, m_surround, m_offset }.at(sample);
    AvProbe probe;
    QVERIFY2(probe.open(path, QString()), qPrintable(probe.lastErrorText()));
    QCOMPARE(probe.videoStreamCount(), videoCount);
    QCOMPARE(probe.audioStreamCount(), audioCount);
    QCOMPARE(probe.videoStreamIndex() >= 0, videoCount > 0);
    QCOMPARE(probe.audioStreamIndex() >= 0, audioCount > 0);
    QCOMPARE(probe.pictureWidth(probe.videoStreamIndex()), width);
    QCOMPARE(probe.pictureHeight(probe.videoStreamIndex()), height);
    QCOMPARE(probe.channelCount(probe.audioStreamIndex()), channels);
    QCOMPARE(probe.fileSize(), QFileInfo(path).size());
}

void TestPlayer::probeStepsBack()
{
    // 25 fps: each time lands on the frame that starts at or before it (within one frame),
    // and a step back goes exactly one frame earlier, also across a key frame.
    auto nearBefore
        = [](qint64 frame, qint64 time) { return frame <= time && frame > time - 40000; };
    for (const QString &path : { m_clip, m_offset }) {
        AvProbe probe;
        QVERIFY(probe.open(path, QString()));
        QVERIFY(probe.positionAtTime(5050000, 0));
        const qint64 at = probe.currentTime();
        QVERIFY2(nearBefore(at, 5050000), qPrintable(QString::number(at)));
        QVERIFY(probe.step(-1));
        QVERIFY(std::abs(probe.currentTime() - (at - 40000)) <= 1000);
        // Back across a key frame (every 25 frames in the H.264 sample, every 12 in MPEG-2).
        for (qint64 t : { 4000000LL, 4010911LL, 2980000LL }) {
            QVERIFY(probe.positionAtTime(t, 0));
            const qint64 before = probe.currentTime();
            QVERIFY(nearBefore(before, t));
            QVERIFY(probe.step(-1));
            QVERIFY2(std::abs(probe.currentTime() - (before - 40000)) <= 1000,
                     qPrintable(QString::number(probe.currentTime())));
            QVERIFY(probe.step(1));
            QVERIFY(std::abs(probe.currentTime() - before) <= 1000);
        }
    }
}

void TestPlayer::probeFailures()
{
    AvProbe probe;
    QVERIFY(!probe.open(m_dir.filePath(QStringLiteral("nothing.mp4")), QString()));
    QCOMPARE(probe.videoStreamCount(), 0);
    QCOMPARE(probe.videoStreamIndex(), -1);
    QCOMPARE(probe.pictureWidth(3), 0);
    QCOMPARE(probe.fileSize(), -1);
    QVERIFY(!probe.positionAtTime(0, 0));
    QVERIFY(!probe.step(-1));
    AvProbe audio;
    QVERIFY(audio.open(m_mp3, QString()));
    QVERIFY(!audio.positionAtTime(1000000, 0)); // no video to step through
}

void TestPlayer::probeFindsFramesAway()
{
    // What the probe finds on its own thread is what it finds here; the answer comes from the
    // event loop, the newest of a burst of times is answered, and a file let go answers nothing.
    AvProbe here;
    QVERIFY(here.open(m_clip, QString()));
    AvProbe away;
    QVERIFY(away.open(m_clip, QString()));
    QList<std::pair<qint64, qint64>> answers; // (asked, frame)
    const QList<qint64> times { 1000000, 2500000, 4010911, 7300000, 8123456 };
    for (qint64 t : times)
        away.findFrameBefore(t, [&answers, t](qint64 frame, bool found) {
            QVERIFY(found);
            answers.append({ t, frame });
        });
    QVERIFY(answers.isEmpty());
    QTRY_VERIFY(!answers.isEmpty() && answers.last().first == times.last());
    QVERIFY(answers.size() <= times.size());
    for (const auto &[asked, frame] : answers) {
        QVERIFY(here.positionAtTime(asked, 0));
        QVERIFY(here.step(-1));
        QCOMPARE(frame, here.currentTime());
    }
    answers.clear();
    away.findFrameBefore(5000000, [&answers](qint64 frame, bool) { answers.append({ 0, frame }); });
    away.close();
    QTest::qWait(500);
    QVERIFY(answers.isEmpty());
    bool answered = false, wasFound = true;
    away.findFrameBefore(5000000, [&](qint64, bool found) { answered = true, wasFound = found; });
    QTRY_VERIFY(answered);
    QVERIFY(!wasFound); // no file
}

void TestPlayer::probeOpensAway()
{
    // The answer comes from the event loop; until then the file before is still the probe's.
    // Of two opens in a row only the second answers, and close() drops one on its way.
    AvProbe probe;
    QVERIFY(probe.open(m_mp3, QString()));
    QStringList answers;
    auto record = [&answers](const QString &name) {
        return [&answers, name](bool opened) { answers << name + (opened ? "+" : "-"); };
    };
    probe.openInBackground(m_silent, record("silent"));
    probe.openInBackground(m_clip, record("clip"));
    QCOMPARE(probe.videoStreamCount(), 0); // still the mp3
    QTRY_COMPARE(answers, QStringList { "clip+" });
    QCOMPARE(probe.pictureWidth(probe.videoStreamIndex()), 640);
    probe.openInBackground(m_dir.filePath(QStringLiteral("nothing.mp4")), record("nothing"));
    QTRY_COMPARE(answers, (QStringList { "clip+", "nothing-" }));
    QVERIFY(probe.lastErrorText().contains(QStringLiteral("nothing.mp4")));
    QCOMPARE(probe.videoStreamCount(), 0);
    probe.openInBackground(m_clip, record("dropped"));
    probe.close();
    QTest::qWait(500);
    QCOMPARE(answers.size(), 2);
}

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
