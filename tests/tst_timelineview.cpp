// The timeline's axis (zoom, scroll, key-frame steps) and its drawing and input on an offscreen
// widget: ticks on the key frames' columns, the waveform where the file has sound, positions
// asked for while dragging and at release, zoom around the play position.

#include "mediafixtures.h"
#include "timelinefeeder.h"
#include "timelineview.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr qint64 kSecond = 1000000;

// The key frames ffprobe finds, on the player's axis (microseconds from the file's start).
QList<qint64> probedKeyFrames(const QString &path)
{
    QByteArray out;
    MediaFixtures::run(QStringLiteral("ffprobe"),
                       { "-v", "error", "-select_streams", "v:0", "-skip_frame", "nokey",
                         "-show_entries", "frame=pts_time:format=start_time", "-of", "csv=p=0",
                         path },
                       &out);
    QList<double> times;
    for (const QByteArray &line : out.split('\n')) {
        bool ok = false;
        const double t = line.trimmed().split(',').constFirst().toDouble(&ok);
        if (ok)
            times << t;
    }
    if (times.isEmpty())
        return {};
    const double start = times.takeLast(); // the format's start time comes last
    QList<qint64> keys;
    for (const double t : times)
        keys << qRound64((t - start) * 1e6);
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool isTick(QRgb pixel)
{
    return qRed(pixel) > 150 && qAbs(qRed(pixel) - qBlue(pixel)) < 20;
}

} // namespace

class TestTimelineView : public QObject
{
    Q_OBJECT

private slots:
    void scale_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<qint64>("anchor");
        QTest::addColumn<qint64>("viewStart");
        QTest::addColumn<qint64>("viewLength");
        // A 100 s file on 1000 pixels.
        QTest::newRow("whole file") << 1.0 << 50 * kSecond << qint64(0) << 100 * kSecond;
        QTest::newRow("x4 in the middle") << 4.0 << 50 * kSecond << 37500000LL << 25 * kSecond;
        QTest::newRow("x4 at the start") << 4.0 << qint64(0) << qint64(0) << 25 * kSecond;
        QTest::newRow("x4 at the end") << 4.0 << 100 * kSecond << 75 * kSecond << 25 * kSecond;
        QTest::newRow("out past 1") << 0.25 << 10 * kSecond << qint64(0) << 100 * kSecond;
        QTest::newRow("bounded") << 1e9 << 10 * kSecond << 9997559LL << 24414LL;
    }

    void scale()
    {
        QFETCH(double, zoom);
        QFETCH(qint64, anchor);
        QFETCH(qint64, viewStart);
        QFETCH(qint64, viewLength);
        TimelineScale s(100 * kSecond, 1000);
        s.zoomBy(zoom, anchor);
        QCOMPARE(s.viewStart(), viewStart);
        QCOMPARE(s.viewLength(), viewLength);
        // Every column's time maps back to the column; the view stays within the file.
        for (int x = 0; x <= 1000; x += 125)
            QVERIFY(qAbs(s.x(s.micros(x)) - x) < 0.05);
        QVERIFY(s.viewStart() >= 0 && s.viewEnd() <= 100 * kSecond);
        s.scrollBy(1e7);
        QCOMPARE(s.viewEnd(), 100 * kSecond);
        s.scrollBy(-1e7);
        QCOMPARE(s.viewStart(), 0);
    }

    void keyFrameSteps_data()
    {
        QTest::addColumn<qint64>("at");
        QTest::addColumn<qint64>("next");
        QTest::addColumn<qint64>("previous");
        QTest::newRow("before the first") << qint64(-5) << qint64(0) << qint64(-1);
        QTest::newRow("on a key frame") << 2 * kSecond << 4 * kSecond << qint64(0);
        QTest::newRow("between") << 3 * kSecond << 4 * kSecond << 2 * kSecond;
        QTest::newRow("on the last") << 8 * kSecond << qint64(-1) << 4 * kSecond;
        QTest::newRow("after the last") << 9 * kSecond << qint64(-1) << 8 * kSecond;
    }

    void keyFrameSteps()
    {
        QFETCH(qint64, at);
        QFETCH(qint64, next);
        QFETCH(qint64, previous);
        const QList<qint64> keys { 0, 2 * kSecond, 4 * kSecond, 8 * kSecond };
        QCOMPARE(NextKeyFrame(keys, at), next);
        QCOMPARE(PreviousKeyFrame(keys, at), previous);
        QCOMPARE(NextKeyFrame({}, at), qint64(-1));
    }

    // The columns of the key frames carry ticks and no other column of the tick row does; the
    // waveform fills its row where there is sound; without video it takes the picture's row.
    void drawing_data()
    {
        QTest::addColumn<bool>("hasVideo");
        QTest::newRow("video") << true;
        QTest::newRow("audio only") << false;
    }

    void drawing()
    {
        QFETCH(bool, hasVideo);
        TimelineView view;
        view.resize(1000, view.sizeHint().height());
        view.reset(100 * kSecond, hasVideo);
        KeyFrameList keys;
        keys.keyFrames = { 0, 10 * kSecond, 35 * kSecond, 70 * kSecond };
        view.setKeyFrames(keys);
        WaveformData wave;
        wave.bucketsPerSecond = 10;
        wave.peaks = QList<WaveformPeak>(500, WaveformPeak { -0.9f, 0.9f }); // sound for 50 s
        view.setWaveform(wave);
        view.setPosition(90 * kSecond);
        const QImage image = view.grab().toImage();
        QList<int> ticks;
        for (int x = 1; x < 1000; ++x) {
            if (isTick(image.pixel(x, 5)) && qAbs(x - 900) > 3)
                ticks << x;
        }
        QCOMPARE(ticks, (QList<int> { 100, 350, 700 }));
        const int waveY = hasVideo ? image.height() - 6 : 20;
        QVERIFY(qBlue(image.pixel(250, waveY)) > 200); // sound
        QVERIFY(qBlue(image.pixel(750, waveY)) < 80); // silence past 50 s
    }

    // The feeder puts the key frames ffprobe sees on the view, and a waveform where there is
    // sound; a file without video gets no ticks.
    void feeder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encode");
        QTest::addColumn<bool>("hasVideo");
        const QStringList noisy {
            "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=12,noise=alls=30:allf=t"
        };
        const QStringList sound { "-f", "lavfi", "-i", "sine=frequency=300:duration=12" };
        QTest::newRow("mp4, x264 defaults")
            << "a.mp4"
            << noisy + sound + QStringList { "-c:v", "libx264", "-c:a", "aac", "-shortest" }
            << true;
        QTest::newRow("mkv, short GOPs") << "b.mkv"
                                         << noisy + sound
                + QStringList { "-c:v", "libx264", "-g", "30", "-c:a", "libopus", "-shortest" }
                                         << true;
        QTest::newRow("mpeg-ts") << "c.ts"
                                 << noisy + sound
                + QStringList { "-c:v", "mpeg2video", "-g", "12", "-c:a", "mp2", "-shortest" }
                                 << true;
        QTest::newRow("mp3") << "d.mp3" << sound << false;
    }

    void feeder()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encode);
        QFETCH(bool, hasVideo);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QVERIFY(MediaFixtures::ffmpeg(encode + QStringList { path }));
        TimelineView view;
        view.resize(600, view.sizeHint().height());
        TimelineFeeder feeder(&view);
        feeder.setCache(TimelineCache::disabled());
        QSignalSpy built(&feeder, &TimelineFeeder::built);
        feeder.open(path, 12000000, hasVideo, true);
        QVERIFY(built.wait(60000));
        const QList<qint64> probed = hasVideo ? probedKeyFrames(path) : QList<qint64>();
        QVERIFY(!hasVideo || probed.size() > 1);
        QCOMPARE(view.keyFrames(), probed);
        for (int i = 0; i < probed.size(); ++i)
            QVERIFY2(qAbs(view.keyFrames().at(i) - probed.at(i)) <= 1000,
                     qPrintable(QStringLiteral("key frame %1: %2 against %3")
                                    .arg(i)
                                    .arg(view.keyFrames().at(i))
                                    .arg(probed.at(i))));
        const QImage image = view.grab().toImage();
        int sound = 0;
        for (int x = 0; x < image.width(); ++x) {
            bool wave = false;
            for (int y = image.height() / 2; y < image.height(); ++y)
                wave = wave || (qBlue(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) < 120);
            sound += wave ? 1 : 0;
        }
        QVERIFY2(sound > image.width() / 2, qPrintable(QString::number(sound)));
        // Another file (here none) ends the builders: nothing of this one is drawn later.
        feeder.close();
        QVERIFY(view.keyFrames().isEmpty());
    }

    void input()
    {
        TimelineView view;
        view.resize(1000, view.sizeHint().height());
        view.reset(100 * kSecond, true);
        view.setPosition(60 * kSecond);
        QSignalSpy asked(&view, &TimelineView::positionRequested);
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 30));
        QTest::mouseMove(&view, QPoint(300, 30));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(400, 30));
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked.at(0), (QList<QVariant> { 20 * kSecond, false }));
        QCOMPARE(asked.at(1), (QList<QVariant> { 30 * kSecond, false }));
        QCOMPARE(asked.at(2), (QList<QVariant> { 40 * kSecond, true }));

        // Ctrl+wheel zooms around the play position, the wheel then scrolls; +/- zoom too.
        QWheelEvent in(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, { 0, 120 },
                       Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &in);
        QCOMPARE(view.scale().zoom(), 2.0);
        QCOMPARE(view.scale().x(60 * kSecond), 600.0);
        QTest::keyClick(&view, Qt::Key_Plus);
        QCOMPARE(view.scale().zoom(), 4.0);
        const qint64 before = view.scale().viewStart();
        QWheelEvent scroll(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), {}, { 0, -120 },
                           Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &scroll);
        QVERIFY(view.scale().viewStart() > before);
        // The play position leaving the view brings the view along.
        view.setPosition(5 * kSecond);
        QVERIFY(view.scale().viewStart() <= 5 * kSecond && view.scale().viewEnd() > 5 * kSecond);
        QTest::keyClick(&view, Qt::Key_Minus);
        QTest::keyClick(&view, Qt::Key_Minus);
        QTest::keyClick(&view, Qt::Key_Minus);
        QCOMPARE(view.scale().zoom(), 1.0);
    }
};

QTEST_MAIN(TestTimelineView)
#include "tst_timelineview.moc"
