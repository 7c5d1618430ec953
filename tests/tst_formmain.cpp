#include "fakeencoder.h"
#include "fakeplayer.h"
#include "fakeprobe.h"
#include "formflash.h"
#include "formmain.h"
#include "nasliders.h"
#include "recordingmessagesink.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
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
    void helpOpensGuideOrChm();
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
};

void TestFormMain::init()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_store.path());
    m_chooserCalls = 0;
    m_opened.clear();
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
        return true;
    };
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

void TestFormMain::helpOpensGuideOrChm()
{
    auto w = makeWindow();
    QVERIFY(w->load());
    w->showHelp();
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first(),
             QUrl::fromLocalFile(QDir(m_program.path()).filePath(QStringLiteral("help/index.html"))));
    QFile chm(QDir(m_program.path()).filePath(QStringLiteral("help.chm")));
    QVERIFY(chm.open(QIODevice::WriteOnly));
    chm.close();
    w->showHelp();
    QCOMPARE(m_opened.last(), QUrl::fromLocalFile(chm.fileName()));
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
    QCOMPARE(m_opened, QList<QUrl>{FormFlash::siteAddress()});
    QVERIFY(about.isVisible());
    QVERIFY(about.closeTimer().isActive());
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
