#include "mediafixtures.h"
#include "mpvplayer.h"
#include "mpvvideowidget.h"
#include "openplayer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaFixtures;

// A real window under Xvfb: mpv's render API draws the picture into the video widget.
class TestVideoWidget : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void showsFrameAfterSeek();
    void drawsAtThePanesSize_data();
    void drawsAtThePanesSize();
};

void TestVideoWidget::showsFrameAfterSeek()
{
    QTemporaryDir dir;
    const QString clip = makeH264Aac(QDir(dir.path()));
    QVERIFY(!clip.isEmpty());

    QWidget window;
    window.resize(640, 360);
    MpvPlayer player(MpvPlayer::Options { false });
    QVERIFY(player.loadLibrary());
    auto *video = qobject_cast<MpvVideoWidget *>(player.videoWidget(&window));
    QVERIFY(video);
    video->setGeometry(0, 0, 640, 360);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // No OpenGL before the first file: the window comes up without it.
    QVERIFY(!video->hasRenderContext());
    QVERIFY(!video->isActive());

    QSignalSpy state(&player, &Player::stateChanged);
    QVERIFY2(OpenAndWait(player, clip), qPrintable(player.lastErrorText()));
    QVERIFY(video->hasRenderContext());
    player.seek(5000000);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(player.currentPosition() - 5000000) <= 1000, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(state.contains(QVariantList { int(Player::StateVideoReady) }), 5000);

    // The test pattern is colourful: wait until the drawn picture has strong colours.
    auto colourfulPixels = [&] {
        const QImage image = video->grabPicture();
        int colourful = 0;
        for (int y = 0; y < image.height(); y += 8) {
            for (int x = 0; x < image.width(); x += 8) {
                const QColor c = image.pixelColor(x, y);
                if (c.saturation() > 150 && c.value() > 100)
                    ++colourful;
            }
        }
        return colourful;
    };
    QTRY_VERIFY_WITH_TIMEOUT(colourfulPixels() > 200, 10000);
    // Closed, the pane is black again.
    player.close();
    QVERIFY(!video->isActive());
    QCOMPARE(colourfulPixels(), 0);
}

void TestVideoWidget::drawsAtThePanesSize_data()
{
    // The pane's sizes one after the other, paused: each is drawn again at once, at that size,
    // whatever the video's own size.
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::newRow("smaller, then larger than the video")
        << QList<QSize> { QSize(320, 180), QSize(960, 540) };
    QTest::newRow("other shapes") << QList<QSize> { QSize(400, 400), QSize(800, 200) };
}

void TestVideoWidget::drawsAtThePanesSize()
{
    QFETCH(QList<QSize>, sizes);
    QTemporaryDir dir;
    const QString clip = makeH264Aac(QDir(dir.path()));
    QVERIFY(!clip.isEmpty());
    QWidget window;
    window.resize(1000, 600);
    MpvPlayer player(MpvPlayer::Options { false });
    QVERIFY(player.loadLibrary());
    auto *video = qobject_cast<MpvVideoWidget *>(player.videoWidget(&window));
    QVERIFY(video);
    video->setGeometry(0, 0, 640, 360);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(OpenAndWait(player, clip), qPrintable(player.lastErrorText()));
    player.seek(2000000);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(player.currentPosition() - 2000000) <= 1000, 5000);
    auto brightest = [&] {
        const QImage shot = video->grabPicture();
        int most = 0;
        for (int y = 0; y < shot.height(); y += 7)
            for (int x = 0; x < shot.width(); x += 7)
                most = std::max(most, qGray(shot.pixel(x, y)));
        return most;
    };
    QTRY_VERIFY_WITH_TIMEOUT(brightest() > 64, 10000);
    const qreal ratio = video->devicePixelRatio();
    for (const QSize &size : sizes) {
        video->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(video->frameSize(), size * ratio, 5000);
        QCOMPARE(video->grabPicture().size(), size);
        QVERIFY2(brightest() > 64, "the frame on screen is drawn again, not a black pane");
    }
}

QTEST_MAIN(TestVideoWidget)
#include "tst_videowidget.moc"
