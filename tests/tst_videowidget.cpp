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

QTEST_MAIN(TestVideoWidget)
#include "tst_videowidget.moc"
