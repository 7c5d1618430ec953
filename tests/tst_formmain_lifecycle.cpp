#include "fakeencoder.h"
#include "fakeplayer.h"
#include "fakeprobe.h"
#include "formmain.h"
#include "mainlayout.h"
#include "nasliders.h"
#include "recordingmessagesink.h"
#include "settings.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// Start-up, settings and shutdown of the main window, driven with engine doubles and a
// temporary settings store.
class TestFormMainLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void firstStartWritesReturningState();
    void storedSettings_data();
    void storedSettings();
    void moreTwiceRestores();
    void missingLibraryEndsWithoutWriting_data();
    void missingLibraryEndsWithoutWriting();
    void programFolderSeparator_data();
    void programFolderSeparator();
    void closeStopsEngines();
    void skinIsOptional();
    void layoutNumbers();
    void narrowWindowStillSizesPlayer();

private:
    struct Window
    {
        std::unique_ptr<FormMain> form;
        FakePlayer *player = nullptr;
        FakeEncoder *encoder = nullptr;
    };
    Window makeWindow(const QString &folder = QString(), bool confirmAfterShow = false);
    QString storeFile() const
    {
        return m_store->path() + QStringLiteral("/Ferrolan Software/Snipora.conf");
    }
    QVariant stored(const QString &name) const
    {
        QSettings s(storeFile(), QSettings::IniFormat);
        return s.value(name);
    }

    std::unique_ptr<QTemporaryDir> m_store;
    std::unique_ptr<QTemporaryDir> m_program;
    RecordingMessageSink m_messages;
};

void TestFormMainLifecycle::init()
{
    m_store = std::make_unique<QTemporaryDir>();
    m_program = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_store->path());
    m_messages.messages.clear();
}

TestFormMainLifecycle::Window TestFormMainLifecycle::makeWindow(const QString &folder,
                                                                bool confirmAfterShow)
{
    Window w;
    FormMainParts parts;
    w.player = new FakePlayer;
    w.encoder = new FakeEncoder;
    parts.player = w.player;
    parts.encoder = w.encoder;
    parts.probe = std::make_unique<FakeProbe>();
    parts.messages = &m_messages;
    parts.programFolder = folder.isEmpty() ? m_program->path() : folder;
    parts.confirmLibrariesAfterShow = confirmAfterShow;
    w.form = std::make_unique<FormMain>(std::move(parts));
    return w;
}

void TestFormMainLifecycle::firstStartWritesReturningState()
{
    Window w = makeWindow();
    QVERIFY(w.form->load());
    auto *guide = w.form->findChild<QLabel *>(QStringLiteral("PicGuide"));
    QVERIFY(guide);
    QVERIFY(!guide->isHidden());
    QCOMPARE(w.form->shared().Job.output.folder, QString());
    QVERIFY(m_messages.messages.isEmpty());
    // Full volume; the position slider waits, disabled, for a file.
    auto *volume = w.form->findChild<NaSlider1 *>(QStringLiteral("NaSliderVol"));
    QVERIFY(volume);
    QCOMPARE(volume->max(), 128);
    QCOMPARE(volume->value(), 128);
    QCOMPARE(volume->selLength(), 128);
    auto *position = w.form->findChild<NaSlider *>(QStringLiteral("NaSlider1"));
    QVERIFY(position);
    QVERIFY(!position->isEnabled());
    QVERIFY(!position->showTicks());
    QCOMPARE(position->smallChange(), 0);
    w.form->show();
    QVERIFY(w.form->close());
    QCOMPARE(stored(QStringLiteral("OutPath")).toString(), QString());
    QCOMPARE(stored(QStringLiteral("ShowMoreBtn")).toString(), QString());
    QCOMPARE(stored(QStringLiteral("FirstStartSoftware")).toString(), QStringLiteral("N"));
    QVERIFY(stored(QStringLiteral("OutPath")).isValid());
}

// Each stored setting at start-up, what the window makes of it, and what it holds after a
// normal exit. Observed: "guide" (shown or hidden), "more" (open or closed), "volume",
// "size" (of the window), "folder" (the output folder). A stored value of "geometry WxH" is
// the window geometry of a window of that size.
void TestFormMainLifecycle::storedSettings_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored"); // null: absent
    QTest::addColumn<QString>("observed");
    QTest::addColumn<QString>("written"); // "*": anything but empty
    QTest::newRow("first start") << "FirstStartSoftware" << QString() << "guide=shown"
                                 << "N";
    QTest::newRow("returning start keeps the hint") << "FirstStartSoftware"
                                                    << "N"
                                                    << "guide=shown"
                                                    << "N";
    QTest::newRow("other first-start text is kept") << "FirstStartSoftware"
                                                    << "Y"
                                                    << "guide=shown"
                                                    << "Y";
    QTest::newRow("more: absent") << "ShowMoreBtn" << QString() << "more=open" << QString();
    QTest::newRow("more: No collapses") << "ShowMoreBtn"
                                        << "No"
                                        << "more=closed"
                                        << "No";
    QTest::newRow("more: no is not No") << "ShowMoreBtn"
                                        << "no"
                                        << "more=open"
                                        << "no";
    QTest::newRow("more: Yes") << "ShowMoreBtn"
                               << "Yes"
                               << "more=open"
                               << "Yes";
    QTest::newRow("output folder") << "OutPath"
                                   << "/home/ann/Cuts/"
                                   << "folder=/home/ann/Cuts/"
                                   << "/home/ann/Cuts/";
    QTest::newRow("volume") << "Volume"
                            << "64"
                            << "volume=64"
                            << "64";
    QTest::newRow("volume: absent is full") << "Volume" << QString() << "volume=128"
                                            << "128";
    QTest::newRow("volume: out of range") << "Volume"
                                          << "300"
                                          << "volume=128"
                                          << "128";
    QTest::newRow("window size") << "WindowGeometry"
                                 << "geometry 900x650"
                                 << "size=900x650"
                                 << "*";
    QTest::newRow("window size: damaged") << "WindowGeometry"
                                          << "@@@"
                                          << "size=800x560"
                                          << "*";
}

void TestFormMainLifecycle::storedSettings()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, observed);
    QFETCH(QString, written);
    if (stored.startsWith(QLatin1String("geometry "))) {
        const QStringList size = stored.mid(9).split(QLatin1Char('x'));
        QWidget other;
        other.resize(size.at(0).toInt(), size.at(1).toInt());
        stored = QString::fromLatin1(other.saveGeometry().toBase64());
    }
    if (!stored.isNull())
        WriteSetting(name, stored);
    Window w = makeWindow();
    QVERIFY(w.form->load());
    const QString key = observed.section(QLatin1Char('='), 0, 0);
    QString seen;
    if (key == QLatin1String("guide"))
        seen = w.form->findChild<QLabel *>(QStringLiteral("PicGuide"))->isHidden()
            ? QStringLiteral("hidden")
            : QStringLiteral("shown");
    else if (key == QLatin1String("more"))
        seen = w.form->moreOpen() ? QStringLiteral("open") : QStringLiteral("closed");
    else if (key == QLatin1String("volume"))
        seen = QString::number(
            w.form->findChild<NaSlider1 *>(QStringLiteral("NaSliderVol"))->value());
    else if (key == QLatin1String("size"))
        seen = QStringLiteral("%1x%2").arg(w.form->width()).arg(w.form->height());
    else if (key == QLatin1String("folder"))
        seen = w.form->shared().Job.output.folder;
    QCOMPARE(key + QLatin1Char('=') + seen, observed);
    if (key == QLatin1String("volume"))
        QCOMPARE(w.player->volume, seen.toInt()); // the player plays at that volume
    if (key == QLatin1String("more")) {
        auto *help = w.form->findChild<QPushButton *>(QStringLiteral("btnHelp"));
        QCOMPARE(help->isHidden(), seen == QLatin1String("closed"));
    }
    w.form->show();
    w.form->close();
    const QString after = ReadSetting(name);
    if (written == QLatin1String("*"))
        QVERIFY(!after.isEmpty());
    else
        QCOMPARE(after, written);
}

void TestFormMainLifecycle::moreTwiceRestores()
{
    Window w = makeWindow();
    QVERIFY(w.form->load());
    auto *more = w.form->findChild<QPushButton *>(QStringLiteral("btnMore"));
    QTest::mouseClick(more, Qt::LeftButton);
    QVERIFY(!w.form->moreOpen());
    QCOMPARE(w.form->showMoreSetting(), QStringLiteral("No"));
    QTest::mouseClick(more, Qt::LeftButton);
    QVERIFY(w.form->moreOpen());
    QCOMPARE(w.form->showMoreSetting(), QStringLiteral("Yes"));
    QVERIFY(!w.form->findChild<QPushButton *>(QStringLiteral("btnHelp"))->isHidden());
}

void TestFormMainLifecycle::missingLibraryEndsWithoutWriting_data()
{
    QTest::addColumn<bool>("encoderOk");
    QTest::addColumn<bool>("playerOk");
    QTest::addColumn<bool>("afterShow"); // the encoder's answer is taken once the window shows
    QTest::newRow("encoder missing") << false << true << false;
    QTest::newRow("player missing") << true << false << false;
    QTest::newRow("both missing: one box") << false << false << false;
    QTest::newRow("encoder missing, found after showing") << false << true << true;
    QTest::newRow("player missing, encoder checked later") << true << false << true;
}

void TestFormMainLifecycle::missingLibraryEndsWithoutWriting()
{
    QFETCH(bool, encoderOk);
    QFETCH(bool, playerOk);
    QFETCH(bool, afterShow);
    Window w = makeWindow(QString(), afterShow);
    w.encoder->libraryAvailable = encoderOk;
    w.player->libraryAvailable = playerOk;
    if (afterShow && playerOk) {
        QVERIFY(w.form->load());
        QVERIFY(m_messages.messages.isEmpty());
        w.form->show();
        QVERIFY(!w.form->confirmLibraries());
    } else {
        QVERIFY(!w.form->load());
    }
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages.first().text, QStringLiteral("Video lib not found"));
    QCOMPARE(m_messages.messages.first().icon, MessageSink::Icon::Error);
    // The encoder is checked first; the player is not asked when the encoder failed.
    QCOMPARE(w.player->calls.contains(QStringLiteral("loadLibrary")), encoderOk || afterShow);
    w.form->close();
    w.form.reset();
    QVERIFY(!QFile::exists(storeFile()));
}

void TestFormMainLifecycle::programFolderSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("appFolder");
    QTest::newRow("without separator") << "/opt/snipora"
                                       << "/opt/snipora/";
    QTest::newRow("with separator") << "/opt/snipora/"
                                    << "/opt/snipora/";
}

void TestFormMainLifecycle::programFolderSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, appFolder);
    Window w = makeWindow(folder);
    QVERIFY(w.form->load());
    QCOMPARE(w.form->shared().AppFolder, appFolder);
    QCOMPARE(w.form->shared().MediaLibraryFolder, appFolder + QStringLiteral("LibAV"));
    QVERIFY(w.encoder->calls.contains(QStringLiteral("loadLibrary:") + appFolder
                                      + QStringLiteral("LibAV")));
}

void TestFormMainLifecycle::closeStopsEngines()
{
    Window w = makeWindow();
    QVERIFY(w.form->load());
    w.form->show();
    w.player->calls.clear();
    QVERIFY(w.form->close());
    QVERIFY(w.player->calls.contains(QStringLiteral("close")));
    QVERIFY(w.encoder->calls.contains(QStringLiteral("stopEncoding")));
    QVERIFY(!w.form->isVisible());
}

void TestFormMainLifecycle::skinIsOptional()
{
    {
        Window w = makeWindow();
        QVERIFY(w.form->load()); // no skin file: silent
        QVERIFY(m_messages.messages.isEmpty());
        QVERIFY(w.form->styleSheet().isEmpty());
    }
    QFile skin(QDir(m_program->path()).filePath(QStringLiteral("skin.qss")));
    QVERIFY(skin.open(QIODevice::WriteOnly));
    skin.write("#PicPane { background: #123456; }");
    skin.close();
    Window w = makeWindow();
    QVERIFY(w.form->load());
    QVERIFY(w.form->styleSheet().contains(QStringLiteral("#123456")));
}

void TestFormMainLifecycle::layoutNumbers()
{
    const MainLayout::Result r = MainLayout::Compute(QSize(800, 600), QSize(300, 150));
    QVERIFY(r.sliderOk);
    QCOMPARE(r.positionSliderWidthTwips, 11600);
    QCOMPARE(r.columnLeftTwips, 11540);
    QCOMPARE(r.centreGroupLeftTwips, (12000 - 9210) / 2);
    QCOMPARE(r.playerRect, QRect(0, 0, 800, 600 - 122));
    QCOMPARE(r.guideTopLeft, QPoint(250, (478 - 150) / 2));
    QVERIFY(r.timelineRect.isEmpty() && r.panelRect.isEmpty());

    // The timeline over the slider's span above the pane, the segment panel beside the video
    // (left out where the video would get too narrow), and for a file without video the
    // timeline in the video's place.
    struct Row
    {
        QSize window;
        MainLayout::Extras extras;
        QRect player, timeline, panel;
    };
    const Row rows[] = {
        { { 800, 600 }, { 84, 0, false }, { 0, 0, 800, 394 }, { 11, 394, 773, 84 }, {} },
        { { 800, 600 },
          { 84, 330, false },
          { 0, 0, 470, 394 },
          { 11, 394, 773, 84 },
          { 470, 0, 330, 394 } },
        { { 640, 600 }, { 84, 330, false }, { 0, 0, 640, 394 }, { 11, 394, 613, 84 }, {} },
        { { 800, 600 },
          { 84, 330, true },
          { 0, 0, 470, 394 },
          { 11, 0, 459, 478 },
          { 470, 0, 330, 394 } },
    };
    for (const Row &row : rows) {
        const MainLayout::Result e = MainLayout::Compute(row.window, QSize(300, 150), row.extras);
        QCOMPARE(e.playerRect, row.player);
        QCOMPARE(e.timelineRect, row.timeline);
        QCOMPARE(e.panelRect, row.panel);
        QCOMPARE(e.displaySize, row.player.size());
    }

    Window w = makeWindow();
    QVERIFY(w.form->load());
    w.form->resize(800, 600);
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    auto *slider = w.form->findChild<QWidget *>(QStringLiteral("NaSlider1"));
    QCOMPARE(slider->width(), 11600 / 15);
    QCOMPARE(w.form->findChild<QWidget *>(QStringLiteral("btnMore"))->x(), 11540 / 15);
    // No file open: no timeline; the segment panel beside the video.
    QCOMPARE(w.player->displayWidth(), 800 - 330);
    QCOMPARE(w.player->displayHeight(), 478);
    // Vertical positions inside the pane never change with the window.
    const int top = slider->y();
    w.form->resize(640, 900);
    QCOMPARE(slider->y(), top);
    QCOMPARE(w.player->displayHeight(), 900 - 122);
}

void TestFormMainLifecycle::narrowWindowStillSizesPlayer()
{
    const MainLayout::Result r = MainLayout::Compute(QSize(20, 300), QSize(300, 150));
    QVERIFY(!r.sliderOk); // 20 px = 300 twips < 400
    QCOMPARE(r.displaySize, QSize(20, 300 - 122));
}

QTEST_MAIN(TestFormMainLifecycle)
#include "tst_formmain_lifecycle.moc"
