#include "fakeencoder.h"
#include "formconverting.h"
#include "progress.h"
#include "recordingmessagesink.h"
#include "savedpopup.h"
#include "sharedvalues.h"
#include "taskbarprogress.h"

#include <QDBusConnection>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <tuple>

// The conversion run with the encoder double: progress, finish, failure, stop, the popup and
// the taskbar progress on a private session bus.
class TestConversion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void progressArithmetic_data();
    void progressArithmetic();
    void megabytes_data();
    void megabytes();
    void init();
    void startHandsOverTheJob_data();
    void startHandsOverTheJob();
    void firstEventStartsTheClock();
    void successTurnsIntoFileSaved();
    void failureShowsMessageAndCloses();
    void stopSetsFlagStopsAndCloses();
    void queuedProgressAfterStopDoesNothing();
    void eachRunMeasuresFromItsOwnStart();
    void severalFilesShareOneDialog();
    void cannotOpenCloses();
    void cannotConvertCloses();
    void directCopyStartsAt35();
    void popupItems();
    void taskbarOverPrivateBus();

private:
    std::unique_ptr<FormConverting> makeDialog();
    QLineEdit *text(FormConverting &d, const char *name)
    {
        return d.findChild<QLineEdit *>(QLatin1String(name));
    }
    QProgressBar *bar(FormConverting &d)
    {
        return d.findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
    }

    SharedValues m_shared;
    FakeEncoder m_encoder;
    RecordingMessageSink m_messages;
    double m_now = 100;
    int m_sounds = 0;
    int m_popups = 0;
};

void TestConversion::progressArithmetic_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("elapsedText");
    QTest::addColumn<QString>("remainingText");
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("percent");
    QTest::newRow("a quarter") << qint64(2621440) << qint64(2500000) << qint64(10000000) << 3.0
                               << true << "00:00:03.0"
                               << "00:00:09.0"
                               << "10.0 MB" << 25;
    QTest::newRow("position 0") << qint64(0) << qint64(0) << qint64(10000000) << 0.0 << false << ""
                                << ""
                                << "" << 0;
    QTest::newRow("duration 0") << qint64(100) << qint64(5) << qint64(0) << 1.0 << false << ""
                                << ""
                                << "" << 0;
    QTest::newRow("unknown duration")
        << qint64(100) << qint64(5) << qint64(-1) << 1.0 << false << ""
        << ""
        << "" << 0;
    QTest::newRow("unknown size") << qint64(-1) << qint64(5) << qint64(10) << 1.0 << false << ""
                                  << ""
                                  << "" << 0;
    QTest::newRow("past 2 GiB") << qint64(3) * 1024 * 1024 * 1024 << qint64(50) << qint64(100)
                                << 10.0 << true << "00:00:10.0"
                                << "00:00:10.0"
                                << "6,144.0 MB" << 50;
    QTest::newRow("past the end") << qint64(1048576) << qint64(105) << qint64(100) << 1.0 << true
                                  << "00:00:01.0"
                                  << "00:00:00.0"
                                  << "1.0 MB" << 100;
    QTest::newRow("percent is cut")
        << qint64(1048576) << qint64(999) << qint64(1000) << 1.0 << true << "00:00:01.0"
        << "00:00:00.0"
        << "1.0 MB" << 99;
    // The headers and one audio frame of a 100 KB file would estimate megabytes.
    QTest::newRow("first frame only")
        << qint64(6000) << qint64(23220) << qint64(10000000) << 0.1 << false << ""
        << ""
        << "" << 0;
    QTest::newRow("one percent") << qint64(1024) << qint64(100000) << qint64(10000000) << 0.1
                                 << true << "00:00:00.1"
                                 << "00:00:09.9"
                                 << "0.1 MB" << 1;
}

void TestConversion::progressArithmetic()
{
    QFETCH(qint64, bytes);
    QFETCH(qint64, position);
    QFETCH(qint64, duration);
    QFETCH(double, elapsed);
    QFETCH(bool, ok);
    QFETCH(QString, elapsedText);
    QFETCH(QString, remainingText);
    QFETCH(QString, size);
    QFETCH(int, percent);
    const ProgressUpdate u = ComputeProgress(bytes, position, duration, 50.0 + elapsed, 50.0);
    QCOMPARE(u.ok, ok);
    if (!ok)
        return;
    QCOMPARE(u.elapsed, elapsedText);
    QCOMPARE(u.remaining, remainingText);
    QCOMPARE(u.estimatedSize, size);
    QVERIFY(u.hasPercent);
    QCOMPARE(u.percent, percent);
}

void TestConversion::megabytes_data()
{
    QTest::addColumn<double>("mb");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "0.0";
    QTest::newRow("small") << 0.04 << "0.0";
    QTest::newRow("rounded") << 12.345 << "12.3";
    QTest::newRow("thousands") << 1234.56 << "1,234.6";
    QTest::newRow("millions") << 1234567.0 << "1,234,567.0";
}

void TestConversion::megabytes()
{
    QFETCH(double, mb);
    QFETCH(QString, text);
    QCOMPARE(FormatMegabytes(mb), text);
}

void TestConversion::init()
{
    m_shared = SharedValues();
    m_shared.InputFilePath = QStringLiteral("/v/Clip.mp4");
    m_shared.Job.source.path = m_shared.InputFilePath;
    m_shared.Job.ranges = { CutSpan { 12.5, 42.5, QString() } };
    m_shared.Job.output.folder = QStringLiteral("/out/");
    m_shared.Job.output.name = QStringLiteral("Clip-cut");
    m_shared.Job.output.extension = QStringLiteral("mp4");
    m_shared.Job.encode.options = QStringLiteral("-vcodec libx264 -TimeLength 30");
    m_shared.CutStartSeconds = 12.5;
    m_encoder.calls.clear();
    m_encoder.inputResult = 0;
    m_encoder.outputResult = 0;
    m_messages.messages.clear();
    m_now = 100;
    m_sounds = 0;
    m_popups = 0;
}

std::unique_ptr<FormConverting> TestConversion::makeDialog()
{
    FormConvertingParts parts;
    parts.shared = &m_shared;
    parts.encoder = &m_encoder;
    parts.messages = &m_messages;
    parts.playSound = [this] { ++m_sounds; };
    parts.showSavedPopup = [this] { ++m_popups; };
    parts.clock = [this] { return m_now; };
    auto d = std::make_unique<FormConverting>(std::move(parts), nullptr);
    return d;
}

void TestConversion::startHandsOverTheJob_data()
{
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("inputOptions");
    QTest::addColumn<bool>("replaceAgreed");
    QTest::newRow("convert") << false << "-TimeStart 12.5" << false;
    QTest::newRow("copy, replacing") << true << "" << true;
}

void TestConversion::startHandsOverTheJob()
{
    QFETCH(bool, copy);
    QFETCH(QString, inputOptions);
    QFETCH(bool, replaceAgreed);
    m_shared.Job.mode = copy ? CutMode::KeyFrameCopy : CutMode::Convert;
    m_shared.Job.replaceAllowed = replaceAgreed;
    m_encoder.setReplaceAllowed(!replaceAgreed);
    m_shared.Job.encode.device = DeviceLimits { 480, 320, 30 };
    auto d = makeDialog();
    d->StartConversion();
    QCOMPARE(m_encoder.replaceAllowed(), replaceAgreed);
    QCOMPARE(m_encoder.calls,
             (QStringList { "clearJobs", "addInputFile", "addOutputFile", "startEncoding" }));
    QCOMPARE(m_encoder.inputPath, QStringLiteral("/v/Clip.mp4"));
    QCOMPARE(m_encoder.inputOptions, inputOptions);
    QCOMPARE(m_encoder.outputPath, QStringLiteral("/out/Clip-cut.mp4"));
    QCOMPARE(m_encoder.outputOptions, m_shared.Job.encode.options);
    QCOMPARE(m_encoder.device, m_shared.Job.encode.device);
    QCOMPARE(d->windowTitle(), QStringLiteral("Please wait..."));
    QCOMPARE(d->findChild<QPushButton *>(QStringLiteral("BtnStop"))->text(),
             QStringLiteral("Cancel"));
    // An input without extension is copied to a name without a trailing dot.
    m_shared.Job.output.extension.clear();
    QCOMPARE(m_shared.outputPath(), QStringLiteral("/out/Clip-cut"));
}

void TestConversion::firstEventStartsTheClock()
{
    auto d = makeDialog();
    d->StartConversion();
    m_encoder.progress(0, 0, 30000000); // position 0: nothing shown
    QCOMPARE(d->progressClockStart(), 100.0);
    QCOMPARE(text(*d, "Text1")->text(), QString());
    QCOMPARE(bar(*d)->value(), 0);
    m_now = 103;
    m_encoder.progress(1048576, 7500000, 30000000);
    QCOMPARE(text(*d, "Text1")->text(), QStringLiteral("00:00:03.0"));
    QCOMPARE(text(*d, "Text2")->text(), QStringLiteral("00:00:09.0"));
    QCOMPARE(text(*d, "Text3")->text(), QStringLiteral("4.0 MB"));
    QCOMPARE(bar(*d)->value(), 25);
    m_now = 104;
    m_encoder.progress(5000, 10, 0); // duration 0: nothing changes
    QCOMPARE(text(*d, "Text1")->text(), QStringLiteral("00:00:03.0"));
    QCOMPARE(bar(*d)->value(), 25);
}

void TestConversion::successTurnsIntoFileSaved()
{
    auto d = makeDialog();
    d->StartConversion();
    m_encoder.progress(1, 1, 10);
    m_encoder.finish(0, true, false, QString());
    QCOMPARE(d->windowTitle(), QStringLiteral("File Saved!"));
    QCOMPARE(d->findChild<QPushButton *>(QStringLiteral("BtnStop"))->text(),
             QStringLiteral("Close"));
    QCOMPARE(bar(*d)->value(), 100);
    QCOMPARE(text(*d, "Text2")->text(), QStringLiteral("00:00:00"));
    QCOMPARE(d->progressClockStart(), 0.0);
    QCOMPARE(m_sounds, 1);
    QCOMPARE(m_popups, 1);
    QVERIFY(m_messages.messages.isEmpty());
    // "Close" runs the stop steps.
    d->show();
    QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("BtnStop")), Qt::LeftButton);
    QVERIFY(m_shared.StopRequested);
    QVERIFY(m_encoder.calls.contains(QStringLiteral("stopEncoding")));
    QVERIFY(!d->isVisible());
}

// Files of one run, one after another: the bar covers the whole run, weighed by the seconds
// each file saves; the next file starts once the last is saved; the finish (sound, popup,
// "File Saved!") comes once, after the last, and names every file. A stop between two files
// starts no further one.
void TestConversion::severalFilesShareOneDialog()
{
    for (const bool stopAfterFirst : { false, true }) {
        init();
        QList<CutJob> jobs;
        for (const auto &[name, start, end] :
             { std::tuple { "A", 0.0, 10.0 }, { "B", 20.0, 50.0 }, { "C", 60.0, 70.0 } }) {
            CutJob job = m_shared.Job;
            job.ranges = { CutSpan { start, end, QString() } };
            job.output.name = QString::fromLatin1(name);
            jobs << job;
        }
        FormConvertingParts parts;
        parts.shared = &m_shared;
        parts.encoder = &m_encoder;
        parts.playSound = [this] { ++m_sounds; };
        parts.showSavedPopup = [this] { ++m_popups; };
        parts.clock = [this] { return m_now; };
        parts.jobs = jobs;
        FormConverting d(std::move(parts), nullptr);
        d.show();
        d.StartConversion();
        QCOMPARE(m_shared.Job.output.name, QStringLiteral("A"));
        m_encoder.progress(100, 5, 10); // half of A: 5 of 50 seconds
        QCOMPARE(bar(d)->value(), 10);
        m_encoder.finish(0, true, false, QString());
        QCOMPARE(d.windowTitle(), QStringLiteral("Please wait..."));
        QCOMPARE(m_sounds + m_popups, 0);
        if (stopAfterFirst) {
            QTest::mouseClick(d.findChild<QPushButton *>(QStringLiteral("BtnStop")),
                              Qt::LeftButton);
            QCoreApplication::processEvents();
            QCOMPARE(m_encoder.calls.count(QStringLiteral("startEncoding")), 1);
            QVERIFY(!d.saved());
            continue;
        }
        QTRY_COMPARE(m_encoder.calls.count(QStringLiteral("startEncoding")), 2);
        QCOMPARE(m_shared.Job.output.name, QStringLiteral("B"));
        m_encoder.progress(100, 15, 30); // A and half of B: 25 of 50 seconds
        QCOMPARE(bar(d)->value(), 50);
        const QString shots = qEnvironmentVariable("SNIPORA_SCREENSHOTS");
        if (!shots.isEmpty())
            d.grab().save(shots + QStringLiteral("/files-running.png"));
        m_encoder.finish(0, true, false, QString());
        QTRY_COMPARE(m_encoder.calls.count(QStringLiteral("startEncoding")), 3);
        m_encoder.finish(0, true, false, QString());
        QCOMPARE(d.windowTitle(), QStringLiteral("File Saved!"));
        QCOMPARE(bar(d)->value(), 100);
        QCOMPARE(m_sounds, 1);
        QCOMPARE(m_popups, 1);
        QVERIFY(d.saved());
        const QString saved = d.findChild<QLabel *>(QStringLiteral("LabelSaved"))->text();
        QCOMPARE(saved.count(QStringLiteral("Saved as")), 3);
        if (!shots.isEmpty()) {
            QTest::qWait(50); // the layout takes the label's new lines
            d.grab().save(shots + QStringLiteral("/files-saved.png"));
        }
        QVERIFY2(saved.contains(QStringLiteral("A.mp4")) && saved.contains(QStringLiteral("C.mp4")),
                 qPrintable(saved));
    }
}

void TestConversion::failureShowsMessageAndCloses()
{
    auto d = makeDialog();
    d->show();
    d->StartConversion();
    m_encoder.finish(0, false, true,
                     QStringLiteral("The encoder failed:\nNo space left on device"));
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages.first().icon, MessageSink::Icon::Warning);
    QCOMPARE(m_messages.messages.first().caption, QStringLiteral("Snipora"));
    QCOMPARE(m_messages.messages.first().text,
             QStringLiteral("The encoder failed:\nNo space left on device"));
    QVERIFY(!d->isVisible());
    QCOMPARE(m_popups, 0);
    QCOMPARE(m_sounds, 0);
}

void TestConversion::stopSetsFlagStopsAndCloses()
{
    auto d = makeDialog();
    d->show();
    d->StartConversion();
    QTest::mouseClick(d->findChild<QPushButton *>(QStringLiteral("BtnStop")), Qt::LeftButton);
    QVERIFY(m_shared.StopRequested);
    QVERIFY(m_encoder.calls.contains(QStringLiteral("stopEncoding")));
    QVERIFY(!d->isVisible());
    // A stop reported by the encoder afterwards (neither success nor failure) shows nothing.
    m_encoder.finish(0, false, false, QStringLiteral("stopped"));
    QVERIFY(m_messages.messages.isEmpty());
}

void TestConversion::queuedProgressAfterStopDoesNothing()
{
    auto d = makeDialog();
    d->show();
    d->StartConversion();
    m_encoder.progress(10, 5, 10);
    QCOMPARE(bar(*d)->value(), 50);
    d->stop();
    m_encoder.progress(10, 9, 10);
    QCOMPARE(bar(*d)->value(), 50);
}

void TestConversion::eachRunMeasuresFromItsOwnStart()
{
    {
        auto first = makeDialog();
        first->StartConversion();
        m_encoder.progress(1, 1, 10);
        first->stop();
    }
    m_shared.StopRequested = false; // OK clears it before the next run
    m_now = 500;
    auto second = makeDialog();
    second->StartConversion();
    QCOMPARE(second->progressClockStart(), 0.0);
    m_encoder.progress(0, 0, 10);
    QCOMPARE(second->progressClockStart(), 500.0);
    m_now = 502;
    m_encoder.progress(10, 5, 10);
    QCOMPARE(text(*second, "Text1")->text(), QStringLiteral("00:00:02.0"));
}

void TestConversion::cannotOpenCloses()
{
    m_encoder.inputResult = -1;
    m_encoder.errorText = QStringLiteral("File not found: /v/Clip.mp4");
    auto d = makeDialog();
    QCOMPARE(d->run(), int(QDialog::Rejected)); // returns without waiting for the user
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages.first().icon, MessageSink::Icon::Error);
    QCOMPARE(m_messages.messages.first().caption, QStringLiteral("Snipora"));
    QCOMPARE(
        m_messages.messages.first().text,
        QStringLiteral("Can not open file: \n/v/Clip.mp4\n\nError: \nFile not found: /v/Clip.mp4"));
    QVERIFY(!m_encoder.calls.contains(QStringLiteral("startEncoding")));
}

void TestConversion::cannotConvertCloses()
{
    m_encoder.outputResult = -1;
    m_encoder.errorText = QStringLiteral("The destination folder does not exist: /out");
    auto d = makeDialog();
    QCOMPARE(d->run(), int(QDialog::Rejected));
    QVERIFY(m_encoder.calls.contains(QStringLiteral("removeInputFile")));
    QCOMPARE(m_messages.messages.first().caption, QStringLiteral("Error"));
    QCOMPARE(m_messages.messages.first().text,
             QStringLiteral("Cannot convert.\nError: The destination folder does not exist: /out\n"
                            "Please try to convert it to another format"));
    QVERIFY(m_encoder.calls.contains(QStringLiteral("stopEncoding"))); // closing stops
}

void TestConversion::directCopyStartsAt35()
{
    m_shared.Job.mode = CutMode::KeyFrameCopy;
    auto d = makeDialog();
    QTimer::singleShot(0, [&] {
        QCOMPARE(bar(*d)->value(), 35);
        m_encoder.progress(0, 0, 0); // no known duration yet: still 35
        QCOMPARE(bar(*d)->value(), 35);
        m_now = 101;
        m_encoder.progress(100, 3, 4);
        QCOMPARE(bar(*d)->value(), 75);
        d->stop();
    });
    d->run();
}

void TestConversion::popupItems()
{
    QWidget window;
    window.resize(800, 600);
    QList<QUrl> opened;
    SavedPopup popup(&window, [&](const QUrl &url) {
        opened << url;
        return true;
    });
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    popup.ShowSavedPopup(QStringLiteral("/home/ann/Cuts/"));
    QVERIFY(popup.isVisible());
    QCOMPARE(popup.size(), QSize(220, 70));
    QCOMPARE(popup.items().size(), 4);
    QCOMPARE(popup.items().at(1).text,
             QStringLiteral("File Saved. Click here to open the output folder"));
    QCOMPARE(popup.items().at(1).id, 3);
    QCOMPARE(popup.items().at(3).id, 2);
    QCOMPARE(popup.displayTimer().interval(), 256 + 5000);
    QTRY_COMPARE(popup.pos(), popup.restingPosition());
    QCOMPARE(popup.restingPosition(), window.mapToGlobal(QPoint(800 - 220 - 4, 600 - 70 - 4)));
    // The title does nothing.
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(50, 12));
    QVERIFY(popup.isVisible());
    QVERIFY(opened.isEmpty());
    // The message opens the folder.
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(110, 45));
    QVERIFY(!popup.isVisible());
    QCOMPARE(opened, QList<QUrl> { QUrl::fromLocalFile(QStringLiteral("/home/ann/Cuts/")) });
    // The close item closes it; so does its timer.
    popup.ShowSavedPopup(QStringLiteral("/x/"));
    QTest::mouseClick(&popup, Qt::LeftButton, {}, QPoint(209, 11));
    QVERIFY(!popup.isVisible());
    popup.ShowSavedPopup(QStringLiteral("/x/"));
    QMetaObject::invokeMethod(&popup.displayTimer(), "timeout", Qt::DirectConnection);
    QVERIFY(!popup.isVisible());
    QCOMPARE(opened.size(), 1);

    // Held while the finished dialog is open; released, it stays its full time from then.
    popup.hold();
    popup.ShowSavedPopup(QStringLiteral("/x/"));
    QVERIFY(!popup.displayTimer().isActive());
    popup.release();
    QVERIFY(popup.displayTimer().isActive());
    QCOMPARE(popup.displayTimer().interval(), 5000);
    // It follows the main window and goes with it.
    window.move(window.pos() + QPoint(40, 30));
    QTRY_COMPARE(popup.pos(), popup.restingPosition());
    window.hide();
    QVERIFY(!popup.isVisible());

    // With the saved file known, the file manager shows it selected; where none can, the
    // folder opens.
    QStringList shown;
    bool fileManager = true;
    SavedPopup withFile(
        &window,
        [&](const QUrl &url) {
            opened << url;
            return true;
        },
        [&](const QString &file) {
            shown << file;
            return fileManager;
        });
    window.show();
    withFile.ShowSavedPopup(QStringLiteral("/y/"), QStringLiteral("/y/a-cut.mp4"));
    QTest::mouseClick(&withFile, Qt::LeftButton, {}, QPoint(110, 45));
    QCOMPARE(shown, QStringList { QStringLiteral("/y/a-cut.mp4") });
    QCOMPARE(opened.size(), 1);
    fileManager = false;
    withFile.ShowSavedPopup(QStringLiteral("/y/"), QStringLiteral("/y/a-cut.mp4"));
    QTest::mouseClick(&withFile, Qt::LeftButton, {}, QPoint(110, 45));
    QCOMPARE(opened.last(), QUrl::fromLocalFile(QStringLiteral("/y/")));
}

// Listens to the launcher-entry signal on a bus.
class LauncherListener : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> updates;
    QStringList uris;
public Q_SLOTS:
    void update(const QString &uri, const QVariantMap &properties)
    {
        uris << uri;
        updates << properties;
    }
};

void TestConversion::taskbarOverPrivateBus()
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), { "--session", "--nofork", "--print-address" });
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
        QSKIP("dbus-daemon is not available");
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    auto cleanup = qScopeGuard([&] {
        daemon.terminate();
        daemon.waitForFinished(3000);
    });
    QDBusConnection sender = QDBusConnection::connectToBus(address, QStringLiteral("sender"));
    QDBusConnection receiver = QDBusConnection::connectToBus(address, QStringLiteral("receiver"));
    QVERIFY(sender.isConnected());
    LauncherListener listener;
    QVERIFY(receiver.connect(QString(), QString(), QString::fromLatin1(TaskbarProgress::Interface),
                             QStringLiteral("Update"), &listener,
                             SLOT(update(QString, QVariantMap))));

    // A run with the taskbar on that bus: progress rises, then the indication is cleared.
    TaskbarProgress taskbar(sender);
    FormConvertingParts parts;
    parts.shared = &m_shared;
    parts.encoder = &m_encoder;
    parts.messages = &m_messages;
    parts.taskbar = &taskbar;
    parts.clock = [this] { return m_now; };
    FormConverting d(std::move(parts), nullptr);
    d.StartConversion();
    for (int position : { 0, 20, 60, 90 }) {
        m_now += 1;
        m_encoder.progress(1000, position, 100);
    }
    m_encoder.finish(0, true, false, QString());
    QTRY_COMPARE(listener.updates.size(), 4);
    QCOMPARE(listener.uris.first(), QStringLiteral("application://snipora.desktop"));
    QCOMPARE(listener.updates.at(0).value(QStringLiteral("progress")).toDouble(), 0.2);
    QCOMPARE(listener.updates.at(2).value(QStringLiteral("progress")).toDouble(), 0.9);
    QVERIFY(listener.updates.at(2).value(QStringLiteral("progress-visible")).toBool());
    QVERIFY(!listener.updates.at(3).value(QStringLiteral("progress-visible")).toBool());

    // Without a bus nothing happens, silently.
    TaskbarProgress nowhere(QDBusConnection(QStringLiteral("not connected")));
    nowhere.setValue(50);
    nowhere.clear();
}

QTEST_MAIN(TestConversion)
#include "tst_conversion.moc"
