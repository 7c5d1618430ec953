#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formmain.h"
#include "mediafixtures.h"
#include "mpvplayer.h"
#include "mpvvideowidget.h"
#include "nasliders.h"
#include "playback.h"
#include "player.h"
#include "recordingmessagesink.h"
#include "timecode.h"

#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace MediaFixtures;

// The whole window with the real engine in a real window under Xvfb: open a generated video,
// play, set the start, seek, set the end and Cut.
class TestMainWindowX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void openPlayMarkCut();
};

void TestMainWindowX11::openPlayMarkCut()
{
    QuietLibavLogging();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString clip = makeH264Aac(QDir(dir.path()));
    QVERIFY(!clip.isEmpty());

    RecordingMessageSink messages;
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = dir.path();
    QString chosen = clip;
    parts.chooseFile = [&](QWidget *, const QString &, const QStringList &) { return chosen; };
    double handedStart = -1, handedLength = -1;
    QString handedFile;
    FormMain *window = nullptr;
    parts.showOutputDialog = [&] {
        handedStart = window->shared().CutStartSeconds;
        handedLength = window->shared().CutLengthSeconds;
        handedFile = window->shared().InputFilePath;
    };
    FormMain w(std::move(parts));
    window = &w;
    QVERIFY(w.load());
    w.resize(800, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    auto *slider = w.findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
    QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.messages.value(0).text));
    QCOMPARE(slider->max(), 100);
    QCOMPARE(w.shared().SourceWidth, 640);
    QCOMPARE(w.shared().SourceHeight, 360);
    QVERIFY(w.shared().SourceHasVideo);
    QVERIFY(w.shared().SourceBitrateKbps > 0);

    // Play for a moment: the slider follows the player.
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnPause")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(slider->value() >= 5, 5000);
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnPause")), Qt::LeftButton);
    QVERIFY(w.offersPlay());
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnSetStart")), Qt::LeftButton);
    const int startTenths = slider->value();
    const double startSeconds = w.shared().CutStartSeconds;
    QVERIFY(std::abs(startSeconds * 10 - startTenths) < 1.0);

    // Seek by clicking three quarters along the slider, then set the end there.
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() * 3 / 4, 10));
    const int endTenths = slider->value();
    QVERIFY(endTenths > 70 && endTenths < 80);
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnSetEnd")), Qt::LeftButton);
    // The mark takes the frame the seek lands on.
    QTRY_COMPARE(w.findChild<QLineEdit *>(QStringLiteral("EditEnd"))->text(),
                 FormatTimeCode(endTenths / 10.0));

    auto *cut = w.findChild<QPushButton *>(QStringLiteral("btnCut"));
    QVERIFY(cut->isEnabled());
    QTest::mouseClick(cut, Qt::LeftButton);
    QCOMPARE(handedFile, clip);
    QCOMPARE(handedStart, startSeconds);
    // The marks are the frames on screen: within a frame of what the slider shows.
    QVERIFY(std::abs(handedLength - (endTenths - startTenths) / 10.0) < 0.1);

    if (qEnvironmentVariableIsSet("SNIPORA_SCREENSHOT"))
        w.grab().save(qEnvironmentVariable("SNIPORA_SCREENSHOT"));

    // Files without video or without audio open, play and mark like any other.
    const QString tone = makeMp3(QDir(dir.path()), 4);
    const QString silent = makeVideoOnly(QDir(dir.path()));

    // A file dropped on the picture opens as a drop on the window does.
    QWidget *surface = w.findChild<QWidget *>(QStringLiteral("PicPlayer"));
    QVERIFY(surface);
    QMimeData dropped;
    dropped.setUrls({ QUrl::fromLocalFile(silent) });
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(surface, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(surface, &drop);
    QTRY_COMPARE(w.shared().InputFilePath, silent);
    for (const QString &file : { tone, silent }) {
        chosen = file;
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
        QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.messages.value(0).text));
        QCOMPARE(w.shared().InputFilePath, file);
        QCOMPARE(w.shared().SourceHasVideo, file == silent);
        QCOMPARE(slider->max(), 40);
        QVERIFY(cut->isEnabled());
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnPause")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(slider->value() >= 3, 5000);
        QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("BtnGoStart")), Qt::LeftButton);
        QCOMPARE(slider->value(), 0);
    }
    // A missing file after a video: the old picture goes, the player holds nothing, and the
    // controls and the values a conversion reads say "no file".
    auto *pane
        = qobject_cast<MpvVideoWidget *>(w.findChild<QWidget *>(QStringLiteral("PicPlayer")));
    QVERIFY(pane);
    QTest::qWait(300);
    auto brightest = [&] {
        const QImage shot = pane->grabPicture();
        int most = 0;
        for (int y = 0; y < shot.height(); y += 7)
            for (int x = 0; x < shot.width(); x += 7)
                most = std::max(most, qGray(shot.pixel(x, y)));
        return most;
    };
    QVERIFY(brightest() > 64); // the test picture is on screen
    chosen = dir.filePath(QStringLiteral("gone.mp4"));
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
    QCOMPARE(messages.messages.size(), 1);
    messages.messages.clear();
    QCOMPARE(w.player()->stateCode(), int(Player::StateNoMedia));
    QCOMPARE(w.shared().InputFilePath, QString());
    QCOMPARE(w.shared().SourceWidth, 0);
    QVERIFY(!cut->isEnabled());
    QTRY_VERIFY(brightest() < 32);

    // A file that is not media: the player's message, and the window goes back to no file.
    const QString bogus = dir.filePath(QStringLiteral("notes.mp4"));
    QFile text(bogus);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("shopping list");
    text.close();
    chosen = bogus;
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
    QCOMPARE(messages.messages.size(), 1);
    QVERIFY(messages.messages.first().text.contains(QStringLiteral("notes.mp4")));
    QVERIFY(!cut->isEnabled());
    QVERIFY(!slider->isEnabled());
    QCOMPARE(w.shared().InputFilePath, QString());
    w.close();
}

QTEST_MAIN(TestMainWindowX11)
#include "tst_mainwindow_x11.moc"
