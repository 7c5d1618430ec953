#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formconverting.h"
#include "formmain.h"
#include "formvideoformat.h"
#include "mediafixtures.h"
#include "mpvplayer.h"
#include "playback.h"
#include "recordingmessagesink.h"
#include "savedpopup.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace MediaFixtures;

// One cut through every window with the real engine under Xvfb: open, type the range, Cut,
// choose a format in the output dialog, OK, watch the progress dialog finish, close it, and
// find the file and the popup.
class TestFullCutX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cutThroughEveryWindow();
};

void TestFullCutX11::cutThroughEveryWindow()
{
    QuietLibavLogging();
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const QString clip = makeH264Aac(QDir(dir.path()), QStringLiteral("Holiday.mp4"), 10);
    QVERIFY(!clip.isEmpty());
    QDir(dir.path()).mkpath(QStringLiteral("cuts"));
    const QString shots = qEnvironmentVariable("SNIPORA_SCREENSHOTS");

    RecordingMessageSink messages;
    QList<QUrl> opened;
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = dir.path();
    parts.chooseFile = [&](QWidget *, const QString &, const QStringList &) { return clip; };
    parts.openUrl = [&](const QUrl &url) {
        opened << url;
        return true;
    };
    QStringList shown;
    parts.showInFileManager = [&](const QString &file) {
        shown << file;
        return false; // no file manager on the bus: the folder opens
    };
    FormMain w(std::move(parts));
    QVERIFY(w.load());
    w.resize(800, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
    QVERIFY(messages.messages.isEmpty());

    // Type the range.
    for (const auto &[name, text] :
         { std::pair { "EditStart", "0000020" }, std::pair { "EditEnd", "0000055" } }) {
        auto *edit = w.findChild<QLineEdit *>(QLatin1String(name));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(text));
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QCOMPARE(w.shared().CutStartSeconds, 2.0);

    bool sawDialog = false, sawProgress = false, saved = false, grabbedRunning = false;
    QTimer::singleShot(200, [&] {
        auto *dialog = qobject_cast<FormVideoFormat *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        sawDialog = true;
        QCOMPARE(dialog->model().fileName(), QStringLiteral("Holiday-cut"));
        dialog->model().SelectCatalogueEntry(1073, QStringLiteral("Apple TV - H264 HD Video"));
        dialog->model().setFolder(dir.filePath(QStringLiteral("cuts")));
        dialog->model().moreClick();
        if (!shots.isEmpty())
            dialog->grab().save(shots + QStringLiteral("/output-dialog.png"));
        // The progress dialog comes up inside OK; watch it from here.
        QTimer *watch = new QTimer(dialog);
        connect(watch, &QTimer::timeout, [&, watch] {
            auto *progress = qobject_cast<FormConverting *>(QApplication::activeModalWidget());
            if (!progress)
                return;
            sawProgress = true;
            const int percent = progress->findChild<QProgressBar *>()->value();
            if (!grabbedRunning && percent > 20 && percent < 90) {
                grabbedRunning = true;
                if (!shots.isEmpty())
                    progress->grab().save(shots + QStringLiteral("/progress-running.png"));
            }
            if (progress->windowTitle() == QLatin1String("File Saved!")) {
                watch->stop();
                saved = true;
                if (!shots.isEmpty())
                    progress->grab().save(shots + QStringLiteral("/progress-saved.png"));
                QCOMPARE(progress->findChild<QProgressBar *>()->value(), 100);
                // The popup can be clicked while the finished dialog is still open, and stays
                // until then.
                QTRY_VERIFY(w.popup()->isVisible());
                QVERIFY(!w.popup()->displayTimer().isActive());
                if (!shots.isEmpty()) {
                    QTest::qWait(400);
                    QScreen *screen = QGuiApplication::primaryScreen();
                    screen->grabWindow(0).save(shots + QStringLiteral("/saved-popup.png"));
                }
                QTest::mouseClick(w.popup(), Qt::LeftButton, {}, QPoint(110, 45));
                QCOMPARE(opened, QList<QUrl> { QUrl::fromLocalFile(w.shared().Job.output.folder) });
                QCOMPARE(shown,
                         QStringList { w.shared().Job.output.folder
                                       + QStringLiteral("Holiday-cut.mp4") });
                QTest::mouseClick(progress->findChild<QPushButton *>(QStringLiteral("BtnStop")),
                                  Qt::LeftButton);
            }
        });
        watch->start(20);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("BtnOK")),
                          Qt::LeftButton);
    });
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("btnCut")), Qt::LeftButton);
    QVERIFY(sawDialog);
    QVERIFY(sawProgress);
    QVERIFY(saved);
    QVERIFY2(messages.messages.isEmpty(), qPrintable(messages.messages.value(0).text));

    const QString output = dir.filePath(QStringLiteral("cuts/Holiday-cut.mp4"));
    QVERIFY(QFile::exists(output));
    const ProbeResult result = ffprobe(output);
    QVERIFY(std::abs(result.duration - 3.5) < 0.1);
    QCOMPARE(result.width, 1280);
    QCOMPARE(result.height, 720);
    QCOMPARE(w.shared().Job.output.folder, dir.filePath(QStringLiteral("cuts")) + QLatin1Char('/'));
    if (!shots.isEmpty())
        w.grab().save(shots + QStringLiteral("/main-after.png"));
    w.close();
    QCOMPARE(QSettings(dir.path() + QStringLiteral("/Ferrolan Software/Snipora.conf"),
                       QSettings::IniFormat)
                 .value(QStringLiteral("OutPath"))
                 .toString(),
             w.shared().Job.output.folder);
}

QTEST_MAIN(TestFullCutX11)
#include "tst_fullcut_x11.moc"
