#include "fakeencoder.h"
#include "fakeplayer.h"
#include "fakeprobe.h"
#include "formflash.h"
#include "formmain.h"
#include "nasliders.h"
#include "playback.h"
#include "recordingmessagesink.h"
#include "savedpopup.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// The main window's wiring with engine doubles: keys, buttons, boxes, Help and About.
class TestFormMain : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void ctrlOOpens();
    void buttonsDriveTheWorkflow();
    void editsActWhenEdited();
    void keys_data();
    void keys();
    void dropsOpen();
    void slowOpenShowsAndCancels_data();
    void slowOpenShowsAndCancels();
    void controlsNeverOverlap_data();
    void controlsNeverOverlap();
    void desktopOpens_data();
    void desktopOpens();
    void aboutClosesOnTimerAndClick();
    void aboutLinkKeepsWindow();

private:
    std::unique_ptr<FormMain> makeWindow();

    QTemporaryDir m_store;
    QTemporaryDir m_program;
    RecordingMessageSink m_messages;
    FakePlayer *m_player = nullptr;
    int m_chooserCalls = 0;
    QString m_chosen;
    QList<QUrl> m_opened;
    bool m_openSucceeds = true;
};

void TestFormMain::init()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_store.path());
    m_chooserCalls = 0;
    m_opened.clear();
    m_openSucceeds = true;
    m_chosen = QStringLiteral("/v/clip.mp4");
}

std::unique_ptr<FormMain> TestFormMain::makeWindow()
{
    FormMainParts parts;
    m_player = new FakePlayer;
    parts.player = m_player;
    parts.encoder = new FakeEncoder;
    parts.probe = std::make_unique<FakeProbe>();
    parts.messages = &m_messages;
    parts.programFolder = m_program.path();
    parts.openUrl = [this](const QUrl &url) {
        m_opened << url;
        return m_openSucceeds;
    };
    parts.showInFileManager = [](const QString &) { return false; };
    parts.chooseFile = [this](QWidget *, const QString &, const QStringList &) {
        ++m_chooserCalls;
        return m_chosen;
    };
    return std::make_unique<FormMain>(std::move(parts));
}

void TestFormMain::ctrlOOpens()
{
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    m_chosen.clear(); // cancel
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(m_chooserCalls, 0);
    QTest::keyClick(w.get(), Qt::Key_O, Qt::AltModifier);
    QCOMPARE(m_chooserCalls, 0);
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(m_chooserCalls, 1);
    // Also while a child has the focus.
    auto *open = w->findChild<QPushButton *>(QStringLiteral("btbOpen"));
    open->setFocus();
    QTest::keyClick(open, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(m_chooserCalls, 2);
}

void TestFormMain::buttonsDriveTheWorkflow()
{
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto *cut = w->findChild<QPushButton *>(QStringLiteral("btnCut"));
    auto *pause = w->findChild<QPushButton *>(QStringLiteral("btnPause"));
    auto *setStart = w->findChild<QPushButton *>(QStringLiteral("btnSetStart"));
    auto *setEnd = w->findChild<QPushButton *>(QStringLiteral("btnSetEnd"));
    auto *slider = w->findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    QVERIFY(!cut->isEnabled());
    QVERIFY(!slider->isEnabled());

    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY(w->playback().fileOpen());
    QCOMPARE(m_chooserCalls, 1);
    QVERIFY(cut->isEnabled());
    QVERIFY(slider->isEnabled());
    QCOMPARE(slider->max(), 100); // 10 s in tenths
    QCOMPARE(slider->selLength(), 100);
    QCOMPARE(w->windowTitle(), QStringLiteral("/v/clip.mp4 - Snipora"));

    QTest::mouseClick(pause, Qt::LeftButton);
    QVERIFY(!m_player->paused);
    QCOMPARE(w->offersPlay(), false);
    Q_EMIT m_player->positionChanged(2500000);
    QCOMPARE(slider->value(), 25);
    QTest::mouseClick(setStart, Qt::LeftButton);
    Q_EMIT m_player->positionChanged(7500000);
    QTest::mouseClick(setEnd, Qt::LeftButton);
    QCOMPARE(slider->selStart(), 25);
    QCOMPARE(slider->selLength(), 50);
    QCOMPARE(w->findChild<QLineEdit *>(QStringLiteral("EditStart"))->text(),
             QStringLiteral("00:00:02.5"));

    int dialogs = 0;
    QTimer::singleShot(0, [&] {
        // The real placeholder dialog is modal: close it from inside its event loop.
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            ++dialogs;
            dialog->hide();
        }
    });
    QTest::mouseClick(cut, Qt::LeftButton);
    QCOMPARE(dialogs, 1);
    QVERIFY(m_player->paused);
    QCOMPARE(w->shared().CutStartSeconds, 2.5);
    QCOMPARE(w->shared().CutLengthSeconds, 5.0);

    // The slider: a click seeks there.
    m_player->seeks.clear();
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, 10));
    QVERIFY(!m_player->seeks.isEmpty());
    QCOMPARE(m_player->seeks.first(), qint64(slider->value()) * 100000);
}

void TestFormMain::editsActWhenEdited()
{
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY(w->playback().fileOpen());
    auto *start = w->findChild<QLineEdit *>(QStringLiteral("EditStart"));
    auto *slider = w->findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    QCOMPARE(start->displayText(), QStringLiteral("00:00:00.0"));
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("0000040"));
    QCOMPARE(slider->selStart(), 0); // nothing happens while typing
    QTest::keyClick(start, Qt::Key_Return);
    QCOMPARE(slider->selStart(), 40);
    QCOMPARE(slider->selLength(), 60);
    // Leaving the box without a change does nothing.
    m_player->seeks.clear();
    start->setFocus();
    w->findChild<QLineEdit *>(QStringLiteral("EditEnd"))->setFocus();
    QVERIFY(m_player->seeks.isEmpty());
}

// The window's keys act wherever the focus is, except in a time-code box; a focused button
// never takes them for itself.
void TestFormMain::keys_data()
{
    QTest::addColumn<QString>("focus"); // the object name of the widget with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected"); // the player's calls, or the marks
    QTest::newRow("space plays, not the focused button")
        << "btbOpen" << int(Qt::Key_Space) << 0 << "play";
    QTest::newRow("space in a box is the box's") << "EditStart" << int(Qt::Key_Space) << 0 << "";
    QTest::newRow("right steps a frame") << "btnSetEnd" << int(Qt::Key_Right) << 0 << "step:1";
    QTest::newRow("left steps back") << "NaSlider1" << int(Qt::Key_Left) << 0 << "step:-1";
    QTest::newRow("arrows in a box are the box's") << "EditEnd" << int(Qt::Key_Left) << 0 << "";
    QTest::newRow("shift+right jumps a second")
        << "btnPause" << int(Qt::Key_Right) << int(Qt::ShiftModifier) << "seek:5000000";
    QTest::newRow("shift+left jumps back")
        << "btnPause" << int(Qt::Key_Left) << int(Qt::ShiftModifier) << "seek:3000000";
    QTest::newRow("home goes to the start") << "btnCut" << int(Qt::Key_Home) << 0 << "seek:0";
    QTest::newRow("end goes to the end") << "btnCut" << int(Qt::Key_End) << 0 << "seek:10000000";
    QTest::newRow("I sets the start") << "btbOpen" << int(Qt::Key_I) << 0 << "marks:4-10";
    QTest::newRow("O sets the end") << "btbOpen" << int(Qt::Key_O) << 0 << "marks:0-4";
    QTest::newRow("ctrl+I is not a mark")
        << "btbOpen" << int(Qt::Key_I) << int(Qt::ControlModifier) << "marks:0-10";
    QTest::newRow("Return presses the focused button")
        << "btnSetStart" << int(Qt::Key_Return) << 0 << "marks:4-10";
    QTest::newRow("Enter presses it too")
        << "btnSetEnd" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "marks:0-4";
    QTest::newRow("Return in a box is the box's") << "EditEnd" << int(Qt::Key_Return) << 0 << "";
    QTest::newRow("ctrl+E cuts") << "btnPause" << int(Qt::Key_E) << int(Qt::ControlModifier)
                                 << "dialog";
    QTest::newRow("ctrl+E cuts from a box")
        << "EditStart" << int(Qt::Key_E) << int(Qt::ControlModifier) << "dialog";
}

void TestFormMain::keys()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QTRY_VERIFY(w->playback().fileOpen());
    m_player->position = 4000000; // the frame on screen is at 4 s
    Q_EMIT m_player->positionChanged(m_player->position);
    m_player->calls.clear();
    m_player->seeks.clear();
    QWidget *target = w->findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus();
    int dialogs = 0;
    QTimer::singleShot(0, [&] {
        // The output dialog is modal: close it from inside its event loop.
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            ++dialogs;
            dialog->hide();
        }
    });
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(dialogs, expected == QLatin1String("dialog") ? 1 : 0);
    if (!dialogs)
        QCOMPARE(QApplication::focusWidget(), target); // no focus moved
    QCOMPARE(m_chooserCalls, 1); // no other button clicked
    if (expected.startsWith(QLatin1String("marks:"))) {
        const QString range = expected.mid(6);
        QCOMPARE(QStringLiteral("%1-%2")
                     .arg(w->shared().CutStartSeconds)
                     .arg(w->shared().CutStartSeconds + w->shared().CutLengthSeconds),
                 range);
    } else if (expected.startsWith(QLatin1String("seek:"))) {
        QVERIFY(!m_player->seeks.isEmpty());
        QCOMPARE(QString::number(m_player->seeks.first()), expected.mid(5));
    } else if (expected != QLatin1String("dialog")) {
        m_player->calls.removeAll(QStringLiteral("pause"));
        QCOMPARE(m_player->calls.join(QLatin1Char(',')), expected);
    }
}

void TestFormMain::dropsOpen()
{
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto drop = [&](QMimeData *data) {
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &event);
        QTest::qWait(10);
        return enter.isAccepted();
    };
    QMimeData first;
    first.setUrls({ QUrl::fromLocalFile(QStringLiteral("/v/first.mkv")) });
    QVERIFY(drop(&first));
    QTRY_COMPARE(w->shared().InputFilePath, QStringLiteral("/v/first.mkv"));
    QMimeData second;
    second.setUrls({ QUrl(QStringLiteral("https://example.org/a.mp4")),
                     QUrl::fromLocalFile(QStringLiteral("/v/second.mp4")) });
    QVERIFY(drop(&second));
    QTRY_COMPARE(w->shared().InputFilePath, QStringLiteral("/v/second.mp4"));
    // Text, a web address or a folder: ignored.
    QMimeData text;
    text.setText(QStringLiteral("/v/third.mp4"));
    QVERIFY(!drop(&text));
    QMimeData web;
    web.setUrls({ QUrl(QStringLiteral("https://example.org/a.mp4")) });
    QVERIFY(!drop(&web));
    QMimeData folder;
    folder.setUrls({ QUrl::fromLocalFile(m_program.path()) });
    QVERIFY(!drop(&folder));
    QCOMPARE(w->shared().InputFilePath, QStringLiteral("/v/second.mp4"));
    QCOMPARE(m_chooserCalls, 0);
    // The command line opens the same way.
    w->openFile(QStringLiteral("/v/fourth.mp4"));
    QTRY_COMPARE(w->shared().InputFilePath, QStringLiteral("/v/fourth.mp4"));
}

// A quick open shows nothing; one that takes long names its file and is given up with its
// Cancel button or Esc, leaving the window with no file as it was.
void TestFormMain::slowOpenShowsAndCancels_data()
{
    QTest::addColumn<int>("openMs");
    QTest::addColumn<QString>("cancel");
    QTest::newRow("quick") << 100 << "";
    QTest::newRow("slow, Cancel") << 700 << "button";
    QTest::newRow("slow, Esc") << 700 << "esc";
}

void TestFormMain::slowOpenShowsAndCancels()
{
    QFETCH(int, openMs);
    QFETCH(QString, cancel);
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    m_chosen = QStringLiteral("/v/slow/film.mkv");
    m_player->holdOpen = true;
    QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btbOpen")), Qt::LeftButton);
    QVERIFY(w->playback().opening());
    QTest::qWait(openMs);
    QWidget *panel = w->findChild<QWidget *>(QStringLiteral("PanelOpening"));
    QVERIFY(panel);
    QCOMPARE(panel->isVisible(), openMs > 400);
    if (cancel.isEmpty()) {
        m_player->finishOpen();
        QVERIFY(w->playback().fileOpen());
        QTest::qWait(500);
        QVERIFY(!panel->isVisible());
        return;
    }
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("LabelOpening"))->text(),
             QStringLiteral("Opening film.mkv..."));
    if (cancel == QLatin1String("esc"))
        QTest::keyClick(w.get(), Qt::Key_Escape);
    else
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btnCancelOpen")),
                          Qt::LeftButton);
    QVERIFY(!w->playback().opening());
    QVERIFY(!panel->isVisible());
    QVERIFY(m_player->calls.contains(QStringLiteral("cancelOpen")));
    QVERIFY(w->findChild<QLabel *>(QStringLiteral("PicGuide"))->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Snipora"));
    QVERIFY(!w->findChild<QPushButton *>(QStringLiteral("btnCut"))->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

// At the minimum size and at 800 px no control covers another; the window cannot be made
// smaller than that.
void TestFormMain::controlsNeverOverlap_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("skin");
    QTest::newRow("minimum") << 0 << false;
    QTest::newRow("800") << 800 << false;
    QTest::newRow("minimum, skinned") << 0 << true;
    QTest::newRow("800, skinned") << 800 << true;
}

void TestFormMain::controlsNeverOverlap()
{
    QFETCH(int, width);
    QFETCH(bool, skin);
    const QString skinFile = QDir(m_program.path()).filePath(QStringLiteral("skin.qss"));
    QFile::remove(skinFile);
    if (skin)
        QVERIFY(QFile::copy(QFINDTESTDATA("../resources/skin.qss"), skinFile));
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->resize(200, 100);
    QCOMPARE(w->size(), w->minimumSize());
    if (width)
        w->resize(width, 560);
    QTest::qWait(10);
    QList<QWidget *> controls;
    const QWidget *panel = w->findChild<QWidget *>(QStringLiteral("SegmentPanel"));
    QVERIFY(panel);
    for (QWidget *c : w->findChildren<QWidget *>()) {
        const QString name = c->objectName();
        if (c->isVisibleTo(w.get()) && !name.isEmpty() && name != QLatin1String("PicPlayer")
            && name != QLatin1String("PicPane") && name != QLatin1String("PicCen")
            && c->parentWidget() != w->findChild<QWidget *>(QStringLiteral("PicGuide"))
            && !panel->isAncestorOf(c))
            controls << c; // the segment panel counts as one control
    }
    QVERIFY(controls.size() >= 20);
    if (qEnvironmentVariableIsSet("SNIPORA_SCREENSHOTS"))
        w->grab().save(qEnvironmentVariable("SNIPORA_SCREENSHOTS") + QStringLiteral("/layout-")
                       + QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png"));
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a(controls.at(i)->mapTo(w.get(), QPoint(0, 0)), controls.at(i)->size());
        QVERIFY2(w->rect().contains(a), qPrintable(controls.at(i)->objectName()));
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect b(controls.at(j)->mapTo(w.get(), QPoint(0, 0)), controls.at(j)->size());
            QVERIFY2(!a.intersects(b),
                     qPrintable(controls.at(i)->objectName() + QLatin1Char('/')
                                + controls.at(j)->objectName()));
        }
    }
}

// What the desktop is asked to open, and the message when nothing on it can.
void TestFormMain::desktopOpens_data()
{
    QTest::addColumn<QString>("what"); // "help", "help with chm", "saved popup"
    QTest::addColumn<bool>("handler"); // the desktop has a program for it
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("message");
    QTest::newRow("help: the user guide") << "help" << true << "help/index.html"
                                          << "";
    QTest::newRow("help: the compiled help") << "help with chm" << true << "help.chm"
                                             << "";
    QTest::newRow("help without a browser") << "help" << false << "help/index.html"
                                            << "help/index.html";
    QTest::newRow("saved popup: the folder") << "saved popup" << true << "cuts/"
                                             << "";
    QTest::newRow("saved popup without a file manager") << "saved popup" << false << "cuts/"
                                                        << "cuts/";
}

void TestFormMain::desktopOpens()
{
    QFETCH(QString, what);
    QFETCH(bool, handler);
    QFETCH(QString, opened);
    QFETCH(QString, message);
    m_openSucceeds = handler;
    m_messages.messages.clear();
    const QDir program(m_program.path());
    QFile::remove(program.filePath(QStringLiteral("help.chm")));
    if (what == QLatin1String("help with chm")) {
        QFile chm(program.filePath(QStringLiteral("help.chm")));
        QVERIFY(chm.open(QIODevice::WriteOnly));
    }
    auto w = makeWindow();
    QVERIFY(w->load());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    if (what == QLatin1String("saved popup")) {
        w->popup()->ShowSavedPopup(program.filePath(QStringLiteral("cuts/")),
                                   program.filePath(QStringLiteral("cuts/clip-cut.mp4")));
        QTest::mouseClick(w->popup(), Qt::LeftButton, {}, QPoint(110, 45));
    } else {
        w->showHelp();
    }
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first(), QUrl::fromLocalFile(program.filePath(opened)));
    if (message.isEmpty()) {
        QVERIFY(m_messages.messages.isEmpty());
    } else {
        // One sentence that names what could not be opened.
        QCOMPARE(m_messages.messages.size(), 1);
        const QString text = m_messages.messages.first().text;
        QVERIFY2(text.contains(program.filePath(message)) && !text.contains(QLatin1Char('\n')),
                 qPrintable(text));
    }
}

void TestFormMain::aboutClosesOnTimerAndClick()
{
    FormFlash about(nullptr, [this](const QUrl &url) {
        m_opened << url;
        return true;
    });
    QCOMPARE(about.windowTitle(), QStringLiteral("Start..."));
    QVERIFY(about.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(about.closeTimer().interval(), 8000);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY(about.closeTimer().isActive());
    QTest::qWait(0);
    QMetaObject::invokeMethod(&about.closeTimer(), "timeout", Qt::DirectConnection);
    QVERIFY(!about.isVisible());

    FormFlash second(nullptr, [](const QUrl &) { return true; });
    second.show(); // a fresh eight-second period
    QVERIFY(second.closeTimer().isActive());
    QCOMPARE(second.closeTimer().remainingTime() > 7000, true);
    QTest::mouseClick(&second, Qt::LeftButton, {}, QPoint(300, 60));
    QVERIFY(!second.isVisible());
}

void TestFormMain::aboutLinkKeepsWindow()
{
    FormFlash about(nullptr, [this](const QUrl &url) {
        m_opened << url;
        return false; // a failure to open is not reported
    });
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    auto *link = about.findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(link);
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(m_opened, QList<QUrl> { FormFlash::siteAddress() });
    QVERIFY(about.isVisible());
    QVERIFY(about.closeTimer().isActive());
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
