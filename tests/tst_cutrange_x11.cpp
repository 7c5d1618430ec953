#include "avlogging.h"
#include "avprobe.h"
#include "ffmpegencoder.h"
#include "formconverting.h"
#include "formmain.h"
#include "formvideoformat.h"
#include "indexedmedia.h"
#include "mpvplayer.h"
#include "nasliders.h"
#include "playback.h"
#include "progress.h"
#include "recordingmessagesink.h"
#include "terminationsignals.h"
#include "timecode.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace MediaFixtures;

// What the window shows is what the saved file holds: a user marks a range with the real
// player under Xvfb (typing into the boxes and clicking the next button without Enter, seeking
// with the slider, Set start/end, typing while playing), cuts it in convert mode, and the saved
// file's first and last frames (whose pictures carry their index) or its length are checked.
class TestCutRangeX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void savedRangeIsShownRange_data();
    void savedRangeIsShownRange();

private:
    QTemporaryDir m_dir;
    QMap<QString, QString> m_sources;
};

void TestCutRangeX11::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    for (const char *name : { "clip.mp4", "clip.mkv", "clip.ts" }) {
        m_sources[QLatin1String(name)]
            = IndexedMedia::make(QDir(m_dir.path()), QLatin1String(name));
        QVERIFY(!m_sources[QLatin1String(name)].isEmpty());
    }
    m_sources[QStringLiteral("tone.mp3")] = makeMp3(QDir(m_dir.path()), 10);
    QVERIFY(!m_sources[QStringLiteral("tone.mp3")].isEmpty());
}

// Steps: "type-start D" / "type-end D" (click in the box, select all, type the digits D),
// "enter" (Return in that box), "seek S" (click the position slider at S seconds), "start" and
// "end" (the Set buttons), "play" (the play button), "key K" / "key K*N" (the key K, or K held
// down for N presses 40 ms apart, to whatever has the focus), "cut-key K" (K, which must cut),
// "tab-to N" (Tab until the control named N has the focus), "click-picture" / "click-pane" (a click
// on the video or on the panel's background), "terminate" (SIGTERM to the program once it writes).
// Then Cut (unless a key did) and OK, without Enter anywhere. An end of -1 is the file's end.
void TestCutRangeX11::savedRangeIsShownRange_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("startBox");
    QTest::addColumn<QString>("endBox");
    QTest::addColumn<double>("start"); // the marks, in seconds
    QTest::addColumn<double>("end");
    QTest::addColumn<bool>("onFrames"); // marks set from the picture: the frames at those times
    QTest::addColumn<bool>("copy"); // direct copy (exact) instead of converting

    QTest::newRow("typed end, then Cut") << "clip.mp4"
                                         << "type-end 0000030"
                                         << "00:00:00.0"
                                         << "00:00:03.0" << 0.0 << 3.0 << false << false;
    QTest::newRow("typed start and end, then Cut") << "clip.mkv"
                                                   << "type-start 0000020; type-end 0000030"
                                                   << "00:00:02.0"
                                                   << "00:00:03.0" << 2.0 << 3.0 << false << false;
    QTest::newRow("end before start, then a new end")
        << "clip.ts"
        << "seek 3; start; seek 2; end; seek 5; end"
        << "00:00:02.0"
        << "00:00:05.0" << 2.0 << 5.0 << true << false;
    QTest::newRow("typed start moves the picture for Set start")
        << "clip.mp4"
        << "seek 5; type-start 0000010; enter; start; type-end 0000040"
        << "00:00:01.0"
        << "00:00:04.0" << 1.0 << 4.0 << false << false;
    QTest::newRow("typed start while playing")
        << "clip.mkv"
        << "play; type-start 0000020; enter; type-end 0000040"
        << "00:00:02.0"
        << "00:00:04.0" << 2.0 << 4.0 << false << false;
    QTest::newRow("marks between frames") << "clip.ts"
                                          << "type-start 0000021; type-end 0000043"
                                          << "00:00:02.1"
                                          << "00:00:04.3" << 2.1 << 4.3 << false << false;
    QTest::newRow("set marks from the slider") << "clip.mp4"
                                               << "seek 1.2; start; seek 3.7; end"
                                               << "00:00:01.2"
                                               << "00:00:03.7" << 1.2 << 3.7 << true << false;
    QTest::newRow("set marks from the slider, Matroska")
        << "clip.mkv"
        << "seek 1.2; start; seek 3.7; end"
        << "00:00:01.2"
        << "00:00:03.7" << 1.2 << 3.7 << true << false;
    QTest::newRow("direct copy, typed marks") << "clip.mp4"
                                              << "type-start 0000021; type-end 0000043"
                                              << "00:00:02.1"
                                              << "00:00:04.3" << 2.1 << 4.3 << false << true;
    QTest::newRow("direct copy, marks from the slider, Matroska")
        << "clip.mkv"
        << "seek 1.3; start; seek 6.7; end"
        << "00:00:01.3"
        << "00:00:06.7" << 1.3 << 6.7 << true << true;
    QTest::newRow("direct copy, MPEG-TS") << "clip.ts"
                                          << "type-start 0000029; type-end 0000071"
                                          << "00:00:02.9"
                                          << "00:00:07.1" << 2.9 << 7.1 << false << true;
    QTest::newRow("audio") << "tone.mp3"
                           << "type-start 0000020; type-end 0000055"
                           << "00:00:02.0"
                           << "00:00:05.5" << 2.0 << 5.5 << false << false;
    QTest::newRow("end past the file's end") << "clip.mp4"
                                             << "type-start 0000071; type-end 0000450"
                                             << "00:00:07.1"
                                             << "00:00:10.0" << 7.1 << -1.0 << false << false;
    QTest::newRow("end past the file's end, direct copy")
        << "clip.mkv"
        << "type-start 0000071; type-end 0000450"
        << "00:00:07.1"
        << "00:00:10.0" << 7.1 << -1.0 << false << true;
    QTest::newRow("partly typed end, then Tab") << "clip.mp4"
                                                << "type-start 0000012; type-end 00004; key Tab"
                                                << "00:00:01.2"
                                                << "00:00:04.0" << 1.2 << 4.0 << false << false;
    QTest::newRow("keyboard only: Tab to Cut, Return")
        << "clip.mkv"
        << "type-start 0000015; type-end 0000035; tab-to btnCut; cut-key Return"
        << "00:00:01.5"
        << "00:00:03.5" << 1.5 << 3.5 << false << false;
    QTest::newRow("Ctrl+E cuts from a time box") << "clip.mp4"
                                                 << "type-end 0000025; cut-key Ctrl+E"
                                                 << "00:00:00.0"
                                                 << "00:00:02.5" << 0.0 << 2.5 << false << false;
    QTest::newRow("a click on the picture leaves the box for the keys")
        << "clip.mp4"
        << "type-start 0000020; click-picture; key Right*5; key I; type-end 0000040"
        << "00:00:02.2"
        << "00:00:04.0" << 2.2 << 4.0 << true << false;
    QTest::newRow("a click on the panel leaves the box for the keys")
        << "clip.mp4"
        << "seek 6; type-end 0000080; click-pane; key Left*3; key O"
        << "00:00:00.0"
        << "00:00:05.8" << 0.0 << 5.88 << true << false;
    QTest::newRow("ten frames back, held down") << "clip.mkv"
                                                << "seek 5; key Left*10; start; seek 7; end"
                                                << "00:00:04.6"
                                                << "00:00:07.0" << 4.6 << 7.0 << true << false;
    QTest::newRow("ten frames forward, held down") << "clip.mp4"
                                                   << "seek 2; key Right*10; start; seek 7; end"
                                                   << "00:00:02.4"
                                                   << "00:00:07.0" << 2.4 << 7.0 << true << true;
    QTest::newRow("SIGTERM while saving") << "clip.mp4"
                                          << "type-end 0000090; terminate"
                                          << ""
                                          << "" << 0.0 << 9.0 << false << false;
}

void TestCutRangeX11::savedRangeIsShownRange()
{
    QFETCH(QString, source);
    QFETCH(QString, steps);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(bool, onFrames);
    QFETCH(bool, copy);
    const QString input = m_sources.value(source);
    const double offset = IndexedMedia::videoOffset(input);
    if (onFrames) {
        start = IndexedMedia::frameTime(IndexedMedia::firstFrameAt(start, offset), offset);
        end = IndexedMedia::frameTime(IndexedMedia::firstFrameAt(end, offset), offset);
    }
    const QString outDir = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(outDir));
    // Each row starts as a fresh install: the output dialog keeps its choices in the store.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       outDir + QStringLiteral("-store"));
    const QString output = outDir + QLatin1Char('/') + QFileInfo(input).completeBaseName()
        + QStringLiteral("-cut.") + (copy ? QFileInfo(input).suffix() : QStringLiteral("mp4"));

    RecordingMessageSink messages;
    FormMainParts parts;
    parts.player = new MpvPlayer(MpvPlayer::Options { false });
    parts.encoder = new FfmpegEncoder;
    parts.probe = std::make_unique<AvProbe>();
    parts.messages = &messages;
    parts.programFolder = m_dir.path();
    parts.chooseFile = [&](QWidget *, const QString &, const QStringList &) { return input; };
    parts.openUrl = [](const QUrl &) { return true; };
    FormMain w(std::move(parts));
    QVERIFY(w.load());
    w.resize(800, 600);
    w.show();
    w.activateWindow(); // no window manager under Xvfb gives it the keyboard
    QVERIFY(QTest::qWaitForWindowActive(&w));
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::received, &w, [&w](int) { w.endSession(); });
    auto *editStart = w.findChild<QLineEdit *>(QStringLiteral("EditStart"));
    auto *editEnd = w.findChild<QLineEdit *>(QStringLiteral("EditEnd"));
    auto *slider = w.findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    auto button = [&](const char *name) { return w.findChild<QPushButton *>(QLatin1String(name)); };
    QTest::mouseClick(button("btbOpen"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.playback().opening(), 20000);
    QVERIFY(messages.messages.isEmpty());
    if (end < 0)
        end = Int64ToSeconds(w.playback().durationMicros());

    // Cut and OK with the dialog's defaults, into this row's folder, whatever starts the cut;
    // a stuck window is closed after a minute so that a failure ends the row instead of the
    // whole run. The finished dialog tells where the file went and how large it is.
    bool saved = false;
    bool okClicked = false;
    QString savedNote, savedSize;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (clock.elapsed() > 60000) {
            if (modal)
                modal->close();
            return;
        }
        if (auto *dialog = qobject_cast<FormVideoFormat *>(modal); dialog && !okClicked) {
            okClicked = true;
            dialog->model().setFolder(outDir);
            if (copy)
                dialog->model().option1Click();
            // OK runs the progress dialog modally: click it from outside this watch, which
            // must keep ticking.
            QTimer::singleShot(0, dialog, [dialog] {
                QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("BtnOK")),
                                  Qt::LeftButton);
            });
        } else if (auto *progress = qobject_cast<FormConverting *>(modal);
                   progress && progress->windowTitle() == QLatin1String("File Saved!")) {
            saved = true;
            savedNote = progress->findChild<QLabel *>(QStringLiteral("LabelSaved"))->text();
            savedSize = progress->findChild<QLineEdit *>(QStringLiteral("Text3"))->text();
            QTest::mouseClick(progress->findChild<QPushButton *>(QStringLiteral("BtnStop")),
                              Qt::LeftButton);
        }
    });
    watch.start(20);
    bool terminate = false;
    connect(w.encoder(), &Encoder::encoderProgress, this, [&] {
        if (std::exchange(terminate, false))
            ::raise(SIGTERM);
    });

    auto press = [&](const QString &spec) {
        const QStringList parts = spec.split(QLatin1Char('*'));
        const QKeyCombination key = QKeySequence(parts.first())[0];
        const int times = parts.size() > 1 ? parts.at(1).toInt() : 1;
        for (int i = 0; i < times; ++i) {
            // Held down, the keyboard repeats the press and its release, both marked so.
            QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
            QKeyEvent down(QEvent::KeyPress, key.key(), key.keyboardModifiers(), QString(), i > 0);
            QCoreApplication::sendEvent(target, &down);
            target = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
            QKeyEvent up(QEvent::KeyRelease, key.key(), key.keyboardModifiers(), QString(), i > 0);
            QCoreApplication::sendEvent(target, &up);
            QTest::qWait(40);
        }
        QTest::qWait(300); // the picture lands
    };
    QLineEdit *typing = nullptr;
    for (const QString &raw : steps.split(QLatin1Char(';'))) {
        const QString step = raw.trimmed();
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString arg = step.section(QLatin1Char(' '), 1);
        if (verb.startsWith(QLatin1String("type-"))) {
            typing = verb == QLatin1String("type-start") ? editStart : editEnd;
            QTest::mouseClick(typing, Qt::LeftButton, {}, QPoint(5, typing->height() / 2));
            QTest::keyClick(typing, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(typing, arg);
        } else if (verb == QLatin1String("enter")) {
            QTest::keyClick(typing, Qt::Key_Return);
            QTest::qWait(300);
        } else if (verb == QLatin1String("seek")) {
            const int tenths = int(std::lround(arg.toDouble() * 10));
            int x = -1;
            for (int p = 0; p < slider->width() && x < 0; ++p) {
                if (w.positionValueAt(p * 15.0) == tenths)
                    x = p;
            }
            QVERIFY2(x >= 0, qPrintable(step));
            QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(x, slider->height() / 2));
            QTRY_COMPARE(w.positionValue(), tenths);
            QTest::qWait(300); // the picture lands
        } else if (verb == QLatin1String("start") || verb == QLatin1String("end")) {
            QTest::mouseClick(button(verb == QLatin1String("start") ? "btnSetStart" : "btnSetEnd"),
                              Qt::LeftButton);
        } else if (verb == QLatin1String("play")) {
            QTest::mouseClick(button("btnPause"), Qt::LeftButton);
            QTest::qWait(400);
        } else if (verb == QLatin1String("key")) {
            press(arg);
        } else if (verb == QLatin1String("cut-key")) {
            press(arg);
            QVERIFY2(okClicked, "the key did not cut");
        } else if (verb == QLatin1String("tab-to")) {
            for (int i = 0; i < 30 && QApplication::focusWidget() != button(qPrintable(arg)); ++i)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), button(qPrintable(arg)));
        } else if (verb == QLatin1String("click-picture")) {
            // The picture's own window lets clicks through to the pane under it.
            QWidget *picture = w.findChild<QWidget *>(QStringLiteral("PicPlayer"));
            QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(20, 20));
        } else if (verb == QLatin1String("click-pane")) {
            QWidget *pane = w.findChild<QWidget *>(QStringLiteral("PicCen"));
            QTest::mouseClick(pane, Qt::LeftButton, {},
                              QPoint(pane->width() - 4, pane->height() - 4));
        } else if (verb == QLatin1String("terminate")) {
            terminate = true;
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
    if (!okClicked)
        QTest::mouseClick(button("btnCut"), Qt::LeftButton);
    watch.stop();
    const QStringList left = QDir(outDir).entryList(QDir::Files | QDir::Hidden);
    if (steps.contains(QLatin1String("terminate"))) {
        // Stopped and cleaned up as at the end of a session: nothing saved, nothing left over.
        QVERIFY(!saved);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        QVERIFY(!w.isVisible());
        QVERIFY(!w.encoder()->isRunning());
        return;
    }
    QVERIFY2(saved, qPrintable(messages.messages.value(0).text));
    QCOMPARE(left, QStringList { QFileInfo(output).fileName() });
    QVERIFY2(savedNote.contains(output), qPrintable(savedNote));
    QCOMPARE(savedSize, FormatMegabytes(BytesToMegabytes(QFileInfo(output).size())) + " MB");
    // The window shows the range that was saved.
    QTEST(editStart->text(), "startBox");
    QTEST(editEnd->text(), "endBox");
    QVERIFY2(std::abs(w.shared().CutStartSeconds - start) < 1e-3,
             qPrintable(QString::number(w.shared().CutStartSeconds)));
    QVERIFY2(std::abs(w.shared().CutLengthSeconds - (end - start)) < 1e-3,
             qPrintable(QString::number(w.shared().CutLengthSeconds)));

    if (source.endsWith(QLatin1String(".mp3"))) {
        const ProbeResult r = ffprobe(output);
        QVERIFY2(std::abs(r.duration - (end - start)) < 0.06,
                 qPrintable(QString::number(r.duration)));
        return;
    }
    const QList<int> frames = IndexedMedia::frameIndexes(output);
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames.first(), IndexedMedia::firstFrameAt(start, offset));
    const int lastOfSource = 10 * IndexedMedia::kRate - 1;
    QCOMPARE(frames.last(), std::min(IndexedMedia::lastFrameBefore(end, offset), lastOfSource));
    QCOMPARE(frames.size(), frames.last() - frames.first() + 1); // none repeated, none lost
    w.close();
}

QTEST_MAIN(TestCutRangeX11)
#include "tst_cutrange_x11.moc"
