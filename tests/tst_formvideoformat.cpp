#include "avlogging.h"
#include "catalogue.h"
#include "copynotes.h"
#include "formvideoformat.h"
#include "mediafixtures.h"
#include "propertygrid.h"
#include "recordingmessagesink.h"
#include "settings.h"
#include "sharedvalues.h"
#include "streamcopy.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using Segments = QList<Segment>;
Q_DECLARE_METATYPE(Segments)

// The output settings dialog's widgets over its model.
class TestFormVideoFormat : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void firstDisplay();
    void menuSelectsEntry();
    void moreNarrowsAndWidens();
    void cancelAndCloseBoxHideAndKeepState();
    void sizeBoxKeysAndFocusOut();
    void nameBoxFilters();
    void gridEditsGoThroughHandler();
    void okRefusesBadNames();
    void okBuildsAndStarts();
    void okAsksBeforeReplacing();
    void okRefusesTheSourceItself();
    void exactCutBox();
    void copyStartLine_data();
    void copyStartLine();
    void destinationAndRememberedChoices_data();
    void destinationAndRememberedChoices();

private:
    std::unique_ptr<FormVideoFormat> makeDialog();
    template<typename T> T *child(FormVideoFormat &d, const char *name)
    {
        return d.findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_store;
    SharedValues m_shared;
    RecordingMessageSink m_messages;
    int m_conversions = 0;
    QString m_chosenFolder;
    int m_folderChooser = 0;
};

void TestFormVideoFormat::initTestCase()
{
    QuietLibavLogging();
    // Sources for the line that tells where a direct copy starts: H.264 (cut exactly), and
    // codecs the exact cut does not re-encode. A key frame every 2 s.
    const QString video = QStringLiteral("testsrc2=size=160x90:rate=25:duration=4");
    for (const auto &[name, codec] :
         { std::pair { "h264.mp4", "libx264" }, std::pair { "mpeg4.avi", "mpeg4" },
           std::pair { "vp8.webm", "libvpx" } }) {
        QVERIFY(MediaFixtures::ffmpeg({ "-f", "lavfi", "-i", video, "-c:v", codec, "-g", "50",
                                        m_media.filePath(QLatin1String(name)) }));
    }
    QVERIFY(!MediaFixtures::makeMp3(QDir(m_media.path()), 4).isEmpty());
}

void TestFormVideoFormat::init()
{
    // A settings store of the test's own, empty for every test.
    m_store = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_store->path());
    m_shared = SharedValues();
    m_shared.InputFilePath = m_dir.filePath(QStringLiteral("Holiday.mp4"));
    QFile source(m_shared.InputFilePath);
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("source");
    source.close();
    m_shared.Job.output.folder = m_dir.path() + QLatin1Char('/');
    m_shared.SourceWidth = 1280;
    m_shared.SourceHeight = 720;
    m_shared.SourceHasVideo = true;
    m_shared.SourceBitrateKbps = 2000;
    m_shared.CutStartSeconds = 12.5;
    m_shared.CutLengthSeconds = 30;
    m_shared.StopRequested = true;
    m_messages.messages.clear();
    m_messages.nextAnswer = MessageSink::Answer::No;
    m_conversions = 0;
    m_folderChooser = 0;
    m_chosenFolder.clear();
}

std::unique_ptr<FormVideoFormat> TestFormVideoFormat::makeDialog()
{
    FormVideoFormatParts parts;
    parts.shared = &m_shared;
    parts.messages = &m_messages;
    parts.audioChannelCount = [] { return 2; };
    parts.startConversion = [this] { ++m_conversions; };
    parts.chooseFolder = [this](QWidget *, const QString &) {
        ++m_folderChooser;
        return m_chosenFolder;
    };
    return std::make_unique<FormVideoFormat>(std::move(parts), nullptr);
}

void TestFormVideoFormat::firstDisplay()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    QCOMPARE(d->windowTitle(), QStringLiteral("Output Settings"));
    QVERIFY(child<QRadioButton>(*d, "Option2")->isChecked());
    QVERIFY(!child<QRadioButton>(*d, "Option1")->isChecked());
    QCOMPARE(child<QComboBox>(*d, "ComboFormat")->currentText(),
             QStringLiteral("MP4 - H264 Video (*.mp4)"));
    QCOMPARE(child<QComboBox>(*d, "ComboSize")->count(), 16);
    QCOMPARE(child<QComboBox>(*d, "ComboSize")->currentText(), QStringLiteral("Auto"));
    QVERIFY(!child<QLineEdit>(*d, "TextW")->isEnabled());
    QCOMPARE(child<QComboBox>(*d, "ComboVideoQ")->currentText(), QStringLiteral("Normal"));
    QCOMPARE(child<QPushButton>(*d, "btnMore")->text(), QStringLiteral("More >>"));
    QCOMPARE(d->width(), 487);
    QVERIFY(!d->propertyGrid()->isVisible());
    QCOMPARE(child<QLineEdit>(*d, "TextFolder")->text(), m_shared.Job.output.folder);
}

void TestFormVideoFormat::menuSelectsEntry()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowActive(d.get()));
    QMenu *menu = d->formatMenu();
    QCOMPARE(menu->actions().size(), 3);
    QCOMPARE(menu->actions().at(2)->text(), QStringLiteral("Device"));
    QMenu *device = menu->actions().at(2)->menu();
    QCOMPARE(device->actions().size(), 15);
    // Choose "BlackBerry Pearl 8100/8110/8120/8130 - MPEG4 Video" while the menu is open.
    QTimer::singleShot(50, [&] {
        const auto actions
            = d->findChildren<QAction *>(QStringLiteral("ID_BLACKBERRYPEARLMPEGVIDEO"));
        QVERIFY(actions.size() == 1);
        actions.first()->trigger();
        menu->close();
    });
    d->ShowFormatMenu();
    QCOMPARE(child<QComboBox>(*d, "ComboFormat")->currentText(),
             QStringLiteral("BlackBerry Pearl 8100/8110/8120/8130 - MPEG4 Video"));
    QCOMPARE(child<QComboBox>(*d, "ComboFormat")->count(), 1);
    QCOMPARE(child<QComboBox>(*d, "ComboSize")->currentText(), QStringLiteral("Custom..."));
    QCOMPARE(child<QLineEdit>(*d, "TextW")->text(), QStringLiteral("240"));
    QCOMPARE(child<QLineEdit>(*d, "TextH")->text(), QStringLiteral("260"));
    QTRY_COMPARE(QApplication::focusWidget(), child<QLineEdit>(*d, "TextW"));
    // Dismissing the menu changes nothing.
    QTimer::singleShot(50, [&] { menu->close(); });
    d->ShowFormatMenu();
    QCOMPARE(d->model().formatKey(), QStringLiteral("mp4"));
}

void TestFormVideoFormat::moreNarrowsAndWidens()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    auto *more = child<QPushButton>(*d, "btnMore");
    QTest::mouseClick(more, Qt::LeftButton);
    QCOMPARE(d->width(), 818);
    QVERIFY(d->propertyGrid()->isVisible());
    QCOMPARE(more->text(), QStringLiteral("More <<"));
    QTest::mouseClick(more, Qt::LeftButton);
    QCOMPARE(d->width(), 487);
    QVERIFY(!d->propertyGrid()->isVisible());
    // Direct copy closes the panel and disables the conversion group.
    QTest::mouseClick(more, Qt::LeftButton);
    QTest::mouseClick(child<QRadioButton>(*d, "Option1"), Qt::LeftButton);
    QCOMPARE(d->width(), 487);
    QVERIFY(!child<QWidget>(*d, "Frame1")->isEnabled());
    QVERIFY(!child<QComboBox>(*d, "ComboFormat")->isEnabled());
}

void TestFormVideoFormat::cancelAndCloseBoxHideAndKeepState()
{
    auto d = makeDialog();
    d->model().SelectCatalogueEntry(1185, QStringLiteral("MP3 - MPEG Layer-3 Audio (*.mp3)"));
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    QTest::mouseClick(child<QPushButton>(*d, "BtnCancel"), Qt::LeftButton);
    QVERIFY(!d->isVisible());
    d->show();
    QVERIFY(!d->close()); // the title-bar close box: refused, the dialog hides
    QVERIFY(!d->isVisible());
    d->show();
    QCOMPARE(child<QComboBox>(*d, "ComboFormat")->currentText(),
             QStringLiteral("MP3 - MPEG Layer-3 Audio (*.mp3)"));
    QVERIFY(!child<QComboBox>(*d, "ComboSize")->isEnabled());
    d->closeForGood();
    QVERIFY(d->close());
}

void TestFormVideoFormat::sizeBoxKeysAndFocusOut()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowActive(d.get()));
    d->model().selectSize(15);
    auto *w = child<QLineEdit>(*d, "TextW");
    QTRY_COMPARE(QApplication::focusWidget(), w);
    w->clear();
    QTest::keyClicks(w, QStringLiteral("3a-3.3 "));
    QCOMPARE(w->text(), QStringLiteral("333"));
    child<QLineEdit>(*d, "TextH")->setFocus();
    QTRY_COMPARE(w->text(), QStringLiteral("334"));
    QCOMPARE(d->model().widthText(), QStringLiteral("334"));
}

void TestFormVideoFormat::nameBoxFilters()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowActive(d.get()));
    auto *name = child<QLineEdit>(*d, "TextFileName");
    name->setFocus();
    name->clear();
    QTest::keyClicks(name, QStringLiteral("a:b*c"));
    QCOMPARE(name->text(), QStringLiteral("abc"));
    name->setText(QStringLiteral("x?y|z")); // pasted or set: cleaned too
    QCOMPARE(name->text(), QStringLiteral("xyz"));
    QCOMPARE(d->model().fileName(), QStringLiteral("xyz"));
}

void TestFormVideoFormat::gridEditsGoThroughHandler()
{
    auto d = makeDialog();
    d->show();
    d->model().moreClick();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    PropertyGrid *grid = d->propertyGrid();
    QTreeView *view = grid->view();
    // The check box of "Remove Audio" hides the other audio items.
    const QModelIndex remove = grid->valueIndex(QStringLiteral("Remove Audio"));
    QVERIFY(remove.isValid());
    view->model()->setData(remove, Qt::Checked, Qt::CheckStateRole);
    QVERIFY(d->model().grid().checked(QStringLiteral("Remove Audio")));
    const QModelIndex bitrate = grid->valueIndex(QStringLiteral("Audio Bitrate"));
    QVERIFY(view->isRowHidden(bitrate.row(), bitrate.parent()));
    // An audio format hides the video category.
    d->model().SelectCatalogueEntry(1185, QString());
    const QModelIndex videoBitrate = grid->valueIndex(QStringLiteral("Video Bitrate"));
    QVERIFY(view->isRowHidden(videoBitrate.parent().row(), QModelIndex()));
    QCOMPARE(view->model()->data(grid->valueIndex(QStringLiteral("Filename Extension"))).toString(),
             QStringLiteral("mp3"));
}

void TestFormVideoFormat::okRefusesBadNames()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    d->model().setFileName(QStringLiteral("   "));
    QVERIFY(!d->ok());
    QCOMPARE(m_messages.messages.last().text, QStringLiteral("Invalid file name!"));
    QCOMPARE(m_messages.messages.last().caption, QStringLiteral("Error"));
    QCOMPARE(m_messages.messages.last().icon, MessageSink::Icon::Error);
    QVERIFY(d->isVisible());
    d->model().setFileName(QStringLiteral("clip"));
    d->model().setFolder(m_shared.InputFilePath); // a file, not a folder
    QVERIFY(!d->ok());
    QCOMPARE(m_messages.messages.last().text, QStringLiteral("Invalid path!"));
    QCOMPARE(m_folderChooser, 1); // the chooser opens at once
    QCOMPARE(m_conversions, 0);
}

void TestFormVideoFormat::okBuildsAndStarts()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    QTimer::singleShot(0, [&] { d->hide(); });
    d->showForCut(); // sets the default name
    QCOMPARE(d->model().fileName(), QStringLiteral("Holiday-cut"));
    QVERIFY(d->ok());
    QCOMPARE(m_conversions, 1);
    QVERIFY(!d->isVisible());
    QVERIFY(!m_shared.StopRequested);
    QCOMPARE(m_shared.Job.output.name, QStringLiteral("Holiday-cut"));
    QCOMPARE(m_shared.Job.output.folder, m_dir.path() + QLatin1Char('/'));
    QCOMPARE(m_shared.Job.encode.options,
             QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 2000k -ab 128k -ar 44100 "
                            "-s 1280x720 -TimeLength 30"));
    QCOMPARE(m_shared.Job.output.extension, QStringLiteral("mp4"));
    QVERIFY(!m_shared.Job.isCopy());
    QCOMPARE(m_shared.Job.encode.device, DeviceLimits()); // a general format
}

void TestFormVideoFormat::okAsksBeforeReplacing()
{
    QFile existing(m_dir.filePath(QStringLiteral("Holiday-cut.mp4")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    auto d = makeDialog();
    d->model().setDefaultName(m_shared.InputFilePath);
    d->show();
    m_messages.nextAnswer = MessageSink::Answer::No;
    QVERIFY(!d->ok());
    QCOMPARE(m_messages.messages.last().text,
             existing.fileName() + QStringLiteral(" already exists. Do you want to replace it?"));
    QVERIFY(d->isVisible()); // back to the dialog
    QCOMPARE(m_conversions, 0);
    m_messages.nextAnswer = MessageSink::Answer::Yes;
    QVERIFY(d->ok());
    QCOMPARE(m_conversions, 1);
    QVERIFY(m_shared.Job.replaceAllowed); // the run may replace this file, and only after this yes
    existing.remove();
    d->show();
    QVERIFY(d->ok());
    QVERIFY(!m_shared.Job.replaceAllowed); // nobody was asked: a file made meanwhile stays
}

void TestFormVideoFormat::okRefusesTheSourceItself()
{
    auto d = makeDialog();
    d->show();
    d->model().option1Click(); // direct copy keeps the source's extension
    d->model().setFileName(QStringLiteral("Holiday"));
    QVERIFY(!d->ok());
    QVERIFY(m_messages.messages.last().text.contains(QStringLiteral("is the file you opened")));
    QCOMPARE(m_conversions, 0);
    QFile source(m_shared.InputFilePath);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QCOMPARE(source.readAll(), QByteArray("source"));
}

void TestFormVideoFormat::exactCutBox()
{
    auto d = makeDialog();
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    auto *box = child<QCheckBox>(*d, "CheckExactCut");
    QVERIFY(box);
    QCOMPARE(box->text(),
             QStringLiteral("Exact cut (re-encodes only the frames before the first key frame)"));
    // Under the direct copy option, indented, above the convert option.
    const QRect copy = child<QRadioButton>(*d, "Option1")->geometry();
    const QRect convert = child<QRadioButton>(*d, "Option2")->geometry();
    QVERIFY(box->geometry().top() >= copy.bottom() && box->geometry().bottom() <= convert.top());
    QVERIFY(box->geometry().left() > copy.left());
    QVERIFY(box->isChecked()); // on by default
    QVERIFY(!box->isEnabled()); // it belongs to the direct copy
    QTest::mouseClick(child<QRadioButton>(*d, "Option1"), Qt::LeftButton);
    QVERIFY(box->isEnabled());
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QVERIFY(!d->model().exactCut());
    QVERIFY(!m_shared.ExactCut);
    // Kept in the store that holds "OutPath", so a new dialog (a new run) starts with it off.
    WriteSetting(QStringLiteral("OutPath"), m_shared.Job.output.folder);
    const QSettings store(QStringLiteral("Ferrolan Software"), QStringLiteral("Snipora"));
    QCOMPARE(store.value(QStringLiteral("ExactCut")).toString(), QStringLiteral("No"));
    QCOMPARE(store.value(QStringLiteral("OutPath")).toString(), m_shared.Job.output.folder);
    d->closeForGood();
    d.reset();
    m_shared.ExactCut = true;
    auto again = makeDialog();
    box = child<QCheckBox>(*again, "CheckExactCut");
    QVERIFY(!box->isChecked());
    QVERIFY(!again->model().exactCut());
    QVERIFY(!m_shared.ExactCut);
    again->model().option1Click();
    box->click();
    QCOMPARE(ReadSetting(QStringLiteral("ExactCut")), QStringLiteral("Yes"));
    again->closeForGood();
}

void TestFormVideoFormat::copyStartLine_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<Segments>("segments"); // joined into one file
    QTest::addColumn<QString>("line"); // what the line says; "" when it is absent
    const QString keyFrame = QStringLiteral("The copy starts at 00:00:02.0, on the key frame at "
                                            "or before the start mark");
    const Segments none;
    QTest::newRow("H.264, exact") << "h264.mp4" << true << none << QString();
    QTest::newRow("H.264, exact off") << "h264.mp4" << false << none << keyFrame + QLatin1Char('.');
    QTest::newRow("MPEG-4 part 2, exact") << "mpeg4.avi" << true << none << QString();
    QTest::newRow("VP8") << "vp8.webm" << true << none
                         << keyFrame
            + QStringLiteral(" (no exact cut: the video is VP8; exact cuts need H.264, HEVC, "
                             "MPEG-2, MPEG-4 part 2, VP9 or AV1 video).");
    QTest::newRow("audio only") << "tone.mp3" << true << none << QString();
    // Each segment from its key frame to its last frame kept, as the copy will save it.
    QTest::newRow("H.264, segments joined, exact off")
        << "h264.mp4" << false
        << Segments { Segment { 2.5, 3.3, QStringLiteral("goal") },
                      Segment { 0.7, 1.5, QString() } }
        << QStringLiteral("Segment 1 (goal): 2.000 to 3.280 (key frames)\n"
                          "Segment 2: 0.000 to 1.480 (key frames)");
}

void TestFormVideoFormat::copyStartLine()
{
    QFETCH(QString, file);
    QFETCH(bool, exact);
    QFETCH(Segments, segments);
    QFETCH(QString, line);
    WriteSetting(QStringLiteral("ExactCut"), exact ? QStringLiteral("Yes") : QStringLiteral("No"));
    m_shared.InputFilePath = m_media.filePath(file);
    m_shared.CutStartSeconds = 2.5;
    m_shared.Segments = segments;
    const auto reset = qScopeGuard([this] { m_shared.Segments.clear(); });
    FormVideoFormatParts parts;
    parts.shared = &m_shared;
    parts.messages = &m_messages;
    parts.copyStartNote
        = [this](const QList<CutSpan> &ranges, bool exactWanted, const QList<int> &streams) {
              return CopyRangesNote(m_shared.InputFilePath, ranges, exactWanted, streams);
          };
    FormVideoFormat d(std::move(parts), nullptr);
    QTimer::singleShot(0, &d, [&] {
        const auto done = qScopeGuard([&] { d.hide(); });
        auto *label = child<QLabel>(d, "LabelCopyStart");
        QVERIFY(label);
        QVERIFY(label->isHidden()); // converting: no line
        d.model().option1Click();
        QCOMPARE(label->text(), line);
        QCOMPARE(label->isVisible(), !line.isEmpty());
        // The dialog grows to hold the line: nothing below it is squeezed.
        const auto *left = d.findChild<QWidget *>(QStringLiteral("LeftPanel"));
        QVERIFY(d.height() >= left->layout()->totalHeightForWidth(left->width()));
        d.model().option2Click();
        QVERIFY(label->isHidden());
    });
    d.showForCut();
    d.closeForGood();
}

// Where the first cut goes, a destination that does not exist yet, and the choices kept from
// one run of the program to the next. "<dir>" is the source file's folder; a null text is an
// absent setting.
void TestFormVideoFormat::destinationAndRememberedChoices_data()
{
    QTest::addColumn<QString>("outPath"); // the stored output folder at start-up
    QTest::addColumn<QString>("mode"); // stored "OutputMode"
    QTest::addColumn<QString>("format"); // stored "OutputFormat"
    QTest::addColumn<QString>("shown"); // the destination box when the dialog opens
    QTest::addColumn<QString>("choice"); // the option and the format shown
    QTest::addColumn<QString>("typed"); // typed into the destination box before OK
    QTest::addColumn<bool>("create"); // the answer to "create it?"
    QTest::addColumn<bool>("accepted"); // OK went ahead
    QTest::addColumn<QString>("written"); // "OutPath" right after OK
    const QString mp4 = QStringLiteral("convert MP4 - H264 Video (*.mp4)");
    QTest::newRow("first cut: the source's folder")
        << "" << QString() << QString() << "<dir>/" << mp4 << "" << false << true << "<dir>/";
    QTest::newRow("a folder to make, made")
        << "<dir>/" << QString() << QString() << "<dir>/" << mp4 << "<dir>/new/cuts" << true << true
        << "<dir>/new/cuts/";
    QTest::newRow("a folder to make, refused")
        << "<dir>/" << QString() << QString() << "<dir>/" << mp4 << "<dir>/new/cuts" << false
        << false << QString();
    QTest::newRow("copy and a device kept") << "<dir>/"
                                            << "Copy"
                                            << "1073"
                                            << "<dir>/"
                                            << "copy Apple TV - H264 HD Video"
                                            << "" << false << true << "<dir>/";
    QTest::newRow("an unknown format") << "<dir>/"
                                       << "Convert"
                                       << "99999"
                                       << "<dir>/" << mp4 << "" << false << true << "<dir>/";
}

void TestFormVideoFormat::destinationAndRememberedChoices()
{
    QFETCH(QString, outPath);
    QFETCH(QString, mode);
    QFETCH(QString, format);
    QFETCH(QString, shown);
    QFETCH(QString, choice);
    QFETCH(QString, typed);
    QFETCH(bool, create);
    QFETCH(bool, accepted);
    QFETCH(QString, written);
    const QString dir = m_dir.path();
    for (QString *text : { &outPath, &shown, &typed, &written })
        text->replace(QStringLiteral("<dir>"), dir);
    QDir(dir).removeRecursively();
    QVERIFY(QDir().mkpath(dir));
    QFile source(m_shared.InputFilePath);
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.close();
    m_shared.Job.output.folder = outPath;
    if (!mode.isNull())
        WriteSetting(QStringLiteral("OutputMode"), mode);
    if (!format.isNull())
        WriteSetting(QStringLiteral("OutputFormat"), format);
    auto d = makeDialog();
    QTimer::singleShot(0, [&] { d->hide(); });
    d->showForCut();
    QCOMPARE(child<QLineEdit>(*d, "TextFolder")->text(), shown);
    QCOMPARE(
        (d->model().directCopySelected() ? QStringLiteral("copy ") : QStringLiteral("convert "))
            + child<QComboBox>(*d, "ComboFormat")->currentText(),
        choice);
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString()); // nothing stored before OK
    if (!typed.isEmpty())
        d->model().setFolder(typed);
    m_messages.nextAnswer = create ? MessageSink::Answer::Yes : MessageSink::Answer::No;
    QCOMPARE(d->ok(), accepted);
    QCOMPARE(m_conversions, accepted ? 1 : 0);
    if (!typed.isEmpty()) {
        QCOMPARE(m_messages.messages.size(), 1); // the question, and no "Invalid path!"
        QVERIFY2(m_messages.messages.first().text.contains(typed),
                 qPrintable(m_messages.messages.first().text));
        QCOMPARE(QFileInfo(typed).isDir(), create);
    }
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), written);
    if (accepted) {
        QCOMPARE(m_shared.Job.output.folder, written);
        QCOMPARE(ReadSetting(QStringLiteral("OutputMode")),
                 d->model().directCopySelected() ? QStringLiteral("Copy")
                                                 : QStringLiteral("Convert"));
        QCOMPARE(ReadSetting(QStringLiteral("OutputFormat")),
                 format == QLatin1String("1073") ? format
                                                 : QString::number(Catalogue::DefaultEntryId));
    }
}

QTEST_MAIN(TestFormVideoFormat)
#include "tst_formvideoformat.moc"
