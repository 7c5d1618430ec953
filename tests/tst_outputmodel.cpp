#include "catalogue.h"
#include "outputmodel.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <tuple>

// The catalogue and the output dialog's model: presets, size and quality, the grid, naming.
class TestOutputModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void catalogueInvariants();
    void submenuOrderAndCounts();
    void extensionForKey_data();
    void extensionForKey();
    void initialState();
    void defaultEntryKeepsEverythingNeutral();
    void audioEntryAfterDevice();
    void videoEntryAfterAudio();
    void blackBerryPearl();
    void androidMpeg4OnlyChannels();
    void dvdPal();
    void vobSizeOnly();
    void sizeSelection();
    void validateSizeBox_data();
    void validateSizeBox();
    void sizeKeys();
    void qualityResetsBitrates();
    void directCopyClosesPanel();
    void conversionWithAudioFormat();
    void settingCaptions_data();
    void settingCaptions();
    void refusalEdges_data();
    void refusalEdges();
    void gridHandler_data();
    void gridHandler();
    void removeAudioHidesAudioItems();
    void cropMarginsReadOnly();
    void presetsKeepCropFlipRotate();
    void defaultName_data();
    void defaultName();
    void nameFilters();
    void outputNameChecks();

private:
    OutputSettingsModel m_model;
};

void TestOutputModel::init()
{
    m_model.load(QStringLiteral("/tmp/out/"));
}

void TestOutputModel::catalogueInvariants()
{
    const auto entries = Catalogue::entries();
    QCOMPARE(int(entries.size()), 138);
    QSet<int> ids;
    QSet<QString> keys;
    int audioOnly = 0;
    for (const CatalogueEntry &e : entries) {
        QVERIFY(e.Id >= 1028 && e.Id <= 1194);
        QVERIFY2(!ids.contains(e.Id), qPrintable(QString::number(e.Id)));
        ids << e.Id;
        keys << e.formatKey();
        QCOMPARE(bool(e.Width), bool(e.Height));
        if (e.AudioOnly) {
            ++audioOnly;
            QCOMPARE(Catalogue::groupPath(e), QStringLiteral("General Audio Format"));
        }
        QVERIFY(!Catalogue::groupPath(e).isEmpty());
        if (e.Channels)
            QCOMPARE(QString::fromLatin1(e.Channels), QStringLiteral("2"));
        if (e.FrameRate)
            QVERIFY(QStringList({ "15", "25", "29.97", "23.97", "30" })
                        .contains(QString::fromLatin1(e.FrameRate)));
    }
    QCOMPARE(audioOnly, 11);
    QCOMPARE(keys.size(), 31);
    QCOMPARE(Catalogue::findById(1057)->caption(), QStringLiteral("MP4 - H264 Video (*.mp4)"));
    QCOMPARE(Catalogue::findById(1105)->caption(),
             QStringLiteral("BlackBerry Charm 7100  - MPEG4 Video")); // two blanks, as designed
    QVERIFY(!Catalogue::findById(1022));
    QVERIFY(!Catalogue::findById(1081)); // submenus are no entries
}

void TestOutputModel::submenuOrderAndCounts()
{
    QList<QPair<QString, int>> seen;
    for (const CatalogueEntry &e : Catalogue::entries()) {
        const QString group = Catalogue::groupPath(e);
        if (seen.isEmpty() || seen.last().first != group)
            seen.append({ group, 0 });
        ++seen.last().second;
    }
    const QList<QPair<QString, int>> expected { { "General Audio Format", 11 },
                                                { "General Video Format", 16 },
                                                { "Device/Android", 12 },
                                                { "Device/Android Pad", 4 },
                                                { "Device/Apple TV", 3 },
                                                { "Device/iPad", 4 },
                                                { "Device/iPhone", 4 },
                                                { "Device/iPod", 11 },
                                                { "Device/BlackBerry", 14 },
                                                { "Device/HD Video", 8 },
                                                { "Device/PMP", 14 },
                                                { "Device/PS3", 6 },
                                                { "Device/PSP", 4 },
                                                { "Device/VCD/DVD", 4 },
                                                { "Device/Web Video", 12 },
                                                { "Device/Windows Phone", 3 },
                                                { "Device/Xbox", 8 } };
    QCOMPARE(seen, expected); // each group appears once, in menu order
    // Within a submenu the order is the menu's, not the ids'.
    QCOMPARE(Catalogue::entries()[0].Id, 1186);
    QCOMPARE(Catalogue::entries()[137].Id, 1138);
}

void TestOutputModel::extensionForKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("extension");
    QTest::newRow("mp4h264") << "mp4h264"
                             << "mp4";
    QTest::newRow("mp4") << "mp4"
                         << "mp4";
    for (const char *k : { "mpg2", "ntsc-dvd", "pal-dvd", "ntsc-vcd", "pal-vcd" })
        QTest::newRow(k) << k << "mpg";
    QTest::newRow("mpg") << "mpg"
                         << "mpg";
    QTest::newRow("wma") << "wma"
                         << "wma";
}

void TestOutputModel::extensionForKey()
{
    QFETCH(QString, key);
    QFETCH(QString, extension);
    QCOMPARE(ExtensionForKey(key), extension);
}

void TestOutputModel::initialState()
{
    QCOMPARE(m_model.formatKey(), QStringLiteral("mp4h264"));
    QVERIFY(!m_model.audioOnlyFormat());
    QCOMPARE(m_model.formatCaption(), QStringLiteral("MP4 - H264 Video (*.mp4)"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("mp4"));
    QCOMPARE(m_model.sizeIndex(), 0);
    QVERIFY(!m_model.enabled().width);
    QVERIFY(!m_model.enabled().height);
    QCOMPARE(m_model.videoQuality(), 1);
    QCOMPARE(m_model.audioQuality(), 1);
    QCOMPARE(m_model.folder(), QStringLiteral("/tmp/out/"));
    QVERIFY(!m_model.advancedPanelShown());
    QCOMPARE(m_model.dialogWidthTwips(), 7305);
    QCOMPARE(m_model.moreCaption(), QStringLiteral("More >>"));
    QCOMPARE(m_model.option(), OutputSettingsModel::Option::Convert);
}

void TestOutputModel::defaultEntryKeepsEverythingNeutral()
{
    m_model.SelectCatalogueEntry(1108, QStringLiteral("x"));
    m_model.SelectCatalogueEntry(1057, QStringLiteral("MP4 - H264 Video (*.mp4)"));
    QCOMPARE(m_model.sizeIndex(), 0);
    QCOMPARE(m_model.videoQuality(), 1);
    QCOMPARE(m_model.audioQuality(), 1);
    for (const char *c : { "Video Bitrate", "Frame Rate (FPS)", "Aspect Rate", "Audio Bitrate",
                           "Sample Rate", "Channels" })
        QCOMPARE(m_model.grid().value(QString::fromLatin1(c)), QStringLiteral("Auto"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("mp4"));
    // Right after an entry without a size: boxes enabled and empty, list at "Auto".
    QVERIFY(m_model.enabled().width);
    QCOMPARE(m_model.widthText(), QString());
}

void TestOutputModel::audioEntryAfterDevice()
{
    m_model.SelectCatalogueEntry(1108, QStringLiteral("BlackBerry Pearl"));
    m_model.SelectCatalogueEntry(1185, QStringLiteral("MP3 - MPEG Layer-3 Audio (*.mp3)"));
    QCOMPARE(m_model.sizeIndex(), 0);
    QCOMPARE(m_model.widthText(), QString());
    QCOMPARE(m_model.heightText(), QString());
    QVERIFY(!m_model.enabled().width);
    QVERIFY(!m_model.enabled().height);
    QVERIFY(!m_model.enabled().size);
    QVERIFY(!m_model.enabled().videoQuality);
    QVERIFY(m_model.enabled().audioQuality);
    QVERIFY(m_model.enabled().format);
    QVERIFY(m_model.grid().isCategoryHidden(QStringLiteral("Video Settings")));
    QVERIFY(m_model.grid().isHidden(QStringLiteral("Remove Audio")));
    QVERIFY(!m_model.grid().isHidden(QStringLiteral("Audio Bitrate")));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("mp3"));
    QVERIFY(m_model.audioOnlyFormat());
    QCOMPARE(m_model.formatCaption(), QStringLiteral("MP3 - MPEG Layer-3 Audio (*.mp3)"));
}

void TestOutputModel::videoEntryAfterAudio()
{
    m_model.SelectCatalogueEntry(1185, QString());
    m_model.SelectCatalogueEntry(1030, QString());
    QVERIFY(m_model.enabled().size);
    QVERIFY(m_model.enabled().videoQuality);
    QVERIFY(m_model.enabled().width);
    QVERIFY(!m_model.grid().isCategoryHidden(QStringLiteral("Video Settings")));
    QVERIFY(!m_model.grid().isHidden(QStringLiteral("Remove Audio")));
    QVERIFY(!m_model.audioOnlyFormat());
    QCOMPARE(m_model.formatKey(), QStringLiteral("mkv"));
}

void TestOutputModel::blackBerryPearl()
{
    m_model.takeFocusRequest();
    m_model.SelectCatalogueEntry(
        1108, QStringLiteral("BlackBerry Pearl 8100/8110/8120/8130 - MPEG4 Video"));
    QCOMPARE(m_model.sizeIndex(), 15);
    QCOMPARE(OutputSettingsModel::sizeItems().at(m_model.sizeIndex()), QStringLiteral("Custom..."));
    QCOMPARE(m_model.widthText(), QStringLiteral("240"));
    QCOMPARE(m_model.heightText(), QStringLiteral("260"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Frame Rate (FPS)")), QStringLiteral("25"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Audio Bitrate")), QStringLiteral("96k"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Channels")), QStringLiteral("2"));
    QCOMPARE(m_model.grid().number(QStringLiteral("Channels")), 2);
    QCOMPARE(m_model.formatKey(), QStringLiteral("mp4"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("mp4"));
    QCOMPARE(m_model.takeFocusRequest(), OutputSettingsModel::Box::Width);
}

void TestOutputModel::androidMpeg4OnlyChannels()
{
    m_model.SelectCatalogueEntry(1082, QString());
    QCOMPARE(m_model.sizeIndex(), 0);
    QCOMPARE(m_model.grid().value(QStringLiteral("Channels")), QStringLiteral("2"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Frame Rate (FPS)")), QStringLiteral("Auto"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Audio Bitrate")), QStringLiteral("Auto"));
}

void TestOutputModel::dvdPal()
{
    m_model.SelectCatalogueEntry(1182, QString());
    QCOMPARE(m_model.formatKey(), QStringLiteral("pal-dvd"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("mpg"));
    QCOMPARE(m_model.widthText(), QStringLiteral("720"));
    QCOMPARE(m_model.heightText(), QStringLiteral("576"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Frame Rate (FPS)")), QStringLiteral("25"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Channels")), QStringLiteral("Auto"));
}

void TestOutputModel::vobSizeOnly()
{
    m_model.SelectCatalogueEntry(1035, QString());
    QCOMPARE(m_model.widthText(), QStringLiteral("720"));
    QCOMPARE(m_model.heightText(), QStringLiteral("480"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Frame Rate (FPS)")), QStringLiteral("Auto"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Channels")), QStringLiteral("Auto"));
    QCOMPARE(m_model.grid().value(QStringLiteral("Filename Extension")), QStringLiteral("vob"));
}

void TestOutputModel::sizeSelection()
{
    m_model.selectSize(11); // "800 x 600"
    QCOMPARE(m_model.widthText(), QStringLiteral("800"));
    QCOMPARE(m_model.heightText(), QStringLiteral("600"));
    QVERIFY(!m_model.enabled().width);
    m_model.takeFocusRequest();
    m_model.selectSize(15);
    QVERIFY(m_model.enabled().width && m_model.enabled().height);
    QCOMPARE(m_model.widthText(), QStringLiteral("800"));
    QCOMPARE(m_model.takeFocusRequest(), OutputSettingsModel::Box::Width);
    m_model.selectSize(10); // "720 x 576 (PAL)"
    QCOMPARE(m_model.widthText(), QStringLiteral("720"));
    QCOMPARE(m_model.heightText(), QStringLiteral("576"));
    m_model.selectSize(1); // "128 x 96 (sqcif)"
    QCOMPARE(m_model.heightText(), QStringLiteral("96"));
    m_model.selectSize(0);
    QCOMPARE(m_model.widthText(), QString());
    QVERIFY(!m_model.enabled().width && !m_model.enabled().height);
}

void TestOutputModel::validateSizeBox_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::newRow("7") << "7"
                       << "16";
    QTest::newRow("15") << "15"
                        << "16";
    QTest::newRow("16") << "16"
                        << "16";
    QTest::newRow("17") << "17"
                        << "18";
    QTest::newRow("333") << "333"
                         << "334";
    QTest::newRow("4999") << "4999"
                          << "5000";
    QTest::newRow("5000") << "5000"
                          << "5000";
    QTest::newRow("5001") << "5001"
                          << "5000";
    QTest::newRow("9999") << "9999"
                          << "5000";
    QTest::newRow("empty") << ""
                           << "16";
    QTest::newRow("pasted words") << "abc"
                                  << "16";
}

void TestOutputModel::validateSizeBox()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    m_model.selectSize(15);
    m_model.setWidthText(typed);
    m_model.ValidateSizeBox(OutputSettingsModel::Box::Width);
    QCOMPARE(m_model.widthText(), result);
    m_model.setHeightText(typed);
    m_model.ValidateSizeBox(OutputSettingsModel::Box::Height);
    QCOMPARE(m_model.heightText(), result);
}

void TestOutputModel::sizeKeys()
{
    for (char c = '0'; c <= '9'; ++c)
        QVERIFY(OutputSettingsModel::sizeKeyAccepted(QLatin1Char(c)));
    QVERIFY(OutputSettingsModel::sizeKeyAccepted(QChar(8)));
    for (QChar c : QStringLiteral("a-+ .,x"))
        QVERIFY(!OutputSettingsModel::sizeKeyAccepted(c));
}

void TestOutputModel::qualityResetsBitrates()
{
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Video Bitrate"), QStringLiteral("900k"));
    grid.userEdit(QStringLiteral("Audio Bitrate"), QStringLiteral("96k"));
    grid.userEdit(QStringLiteral("Sample Rate"), QStringLiteral("22050"));
    m_model.selectVideoQuality(0);
    QCOMPARE(grid.value(QStringLiteral("Video Bitrate")), QStringLiteral("Auto"));
    QCOMPARE(grid.value(QStringLiteral("Audio Bitrate")), QStringLiteral("96k"));
    m_model.selectAudioQuality(2);
    QCOMPARE(grid.value(QStringLiteral("Audio Bitrate")), QStringLiteral("Auto"));
    QCOMPARE(grid.value(QStringLiteral("Sample Rate")), QStringLiteral("Auto"));
    // Editing the grid leaves the quality levels alone.
    grid.userEdit(QStringLiteral("Video Bitrate"), QStringLiteral("900k"));
    QCOMPARE(m_model.videoQuality(), 0);
}

void TestOutputModel::directCopyClosesPanel()
{
    m_model.moreClick();
    QVERIFY(m_model.advancedPanelShown());
    QCOMPARE(m_model.dialogWidthTwips(), 12270);
    QCOMPARE(m_model.moreCaption(), QStringLiteral("More <<"));
    m_model.option1Click();
    QVERIFY(m_model.directCopySelected());
    QVERIFY(!m_model.advancedPanelShown());
    QCOMPARE(m_model.dialogWidthTwips(), 7305);
    const auto &e = m_model.enabled();
    QVERIFY(!e.format && !e.size && !e.videoQuality && !e.audioQuality && !e.more && !e.frame);
    m_model.option2Click();
    QVERIFY(!m_model.advancedPanelShown()); // conversion does not reopen it
    QVERIFY(m_model.enabled().frame && m_model.enabled().more && m_model.enabled().format);
}

void TestOutputModel::conversionWithAudioFormat()
{
    m_model.SelectCatalogueEntry(1194, QString());
    m_model.option1Click();
    m_model.option2Click();
    QVERIFY(!m_model.enabled().size);
    QVERIFY(!m_model.enabled().videoQuality);
    QVERIFY(!m_model.enabled().width);
    QVERIFY(m_model.enabled().audioQuality);
    QVERIFY(m_model.grid().isCategoryHidden(QStringLiteral("Video Settings")));
}

void TestOutputModel::gridHandler_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("value");
    QTest::newRow("cleared bit rate") << "Video Bitrate"
                                      << ""
                                      << "Auto";
    QTest::newRow("cleared margin") << "Left"
                                    << ""
                                    << "0";
    QTest::newRow("negative margin") << "Top"
                                     << "-40"
                                     << "40";
    QTest::newRow("rotate 300") << "Rotate"
                                << "300"
                                << "0";
    QTest::newRow("rotate -300") << "Rotate"
                                 << "-300"
                                 << "0";
    QTest::newRow("rotate -270") << "Rotate"
                                 << "-270"
                                 << "-270";
    QTest::newRow("rotate 270") << "Rotate"
                                << "270"
                                << "270";
    QTest::newRow("blank frame rate") << "Frame Rate (FPS)"
                                      << " 25 "
                                      << "25";
    QTest::newRow("words frame rate") << "Frame Rate (FPS)"
                                      << "abc"
                                      << "Auto";
    QTest::newRow("decimal frame rate") << "Frame Rate (FPS)"
                                        << "29.97"
                                        << "29.97";
    // Passing the pattern is not enough: values no encoder can honour return as well.
    QTest::newRow("k alone") << "Audio Bitrate"
                             << "k"
                             << "Auto";
    QTest::newRow("zero bit rate") << "Video Bitrate"
                                   << "0k"
                                   << "Auto";
    QTest::newRow("absurd bit rate") << "Video Bitrate"
                                     << "100000000000000000000k"
                                     << "Auto";
    QTest::newRow("zero sample rate") << "Sample Rate"
                                      << "0"
                                      << "Auto";
    QTest::newRow("frame rate 0") << "Frame Rate (FPS)"
                                  << "0"
                                  << "Auto";
    QTest::newRow("negative frame rate") << "Frame Rate (FPS)"
                                         << "-25"
                                         << "Auto";
    QTest::newRow("aspect without height") << "Aspect Rate"
                                           << "16:"
                                           << "Auto";
    QTest::newRow("aspect of zero") << "Aspect Rate"
                                    << "0:9"
                                    << "Auto";
    QTest::newRow("crop beyond the picture") << "Top"
                                             << "400"
                                             << "0";
    QTest::newRow("crop leaving two pixels") << "Bottom"
                                             << "-358"
                                             << "358";
    QTest::newRow("1500") << "Video Bitrate"
                          << "1500"
                          << "1500";
    QTest::newRow("1500K") << "Video Bitrate"
                           << "1500K"
                           << "1500K";
    QTest::newRow("1.5M") << "Video Bitrate"
                          << "1.5M"
                          << "Auto";
    QTest::newRow("1500 k") << "Video Bitrate"
                            << "1500 k"
                            << "Auto";
    QTest::newRow("sample rate words") << "Sample Rate"
                                       << "44.1k"
                                       << "Auto";
    QTest::newRow("16:9") << "Aspect Rate"
                          << "16:9"
                          << "16:9";
    QTest::newRow("2.35:1") << "Aspect Rate"
                            << "2.35:1"
                            << "Auto";
    QTest::newRow("16:9:1") << "Aspect Rate"
                            << "16:9:1"
                            << "Auto";
    QTest::newRow("no colon") << "Aspect Rate"
                              << "169"
                              << "Auto";
}

void TestOutputModel::settingCaptions_data()
{
    using S = AdvancedSettings::Setting;
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("key"); // -1: the text names no setting
    QTest::addColumn<QString>("category");
    const std::tuple<const char *, int, const char *> rows[] = {
        { "Filename Extension", int(S::FilenameExtension), "Output File" },
        { "Video Bitrate", int(S::VideoBitrate), "Video Settings" },
        { "Frame Rate (FPS)", int(S::FrameRate), "Video Settings" },
        { "Aspect Rate", int(S::AspectRate), "Video Settings" },
        { "Crop Video", int(S::CropVideo), "Video Settings" },
        { "Top", int(S::CropTop), "Video Settings" },
        { "Bottom", int(S::CropBottom), "Video Settings" },
        { "Left", int(S::CropLeft), "Video Settings" },
        { "Right", int(S::CropRight), "Video Settings" },
        { "Vertically Flip", int(S::VerticalFlip), "Video Settings" },
        { "Horizontally Flip", int(S::HorizontalFlip), "Video Settings" },
        { "Rotate", int(S::Rotate), "Video Settings" },
        { "Audio Bitrate", int(S::AudioBitrate), "Audio Settings" },
        { "Sample Rate", int(S::SampleRate), "Audio Settings" },
        { "Channels", int(S::Channels), "Audio Settings" },
        { "Remove Audio", int(S::RemoveAudio), "Audio Settings" },
        { "top", -1, "" }, // captions are matched exactly
        { "Video Settings", -1, "" }, // a category is no setting
        { "", -1, "" },
    };
    for (const auto &[caption, key, category] : rows)
        QTest::newRow(*caption ? caption : "empty")
            << QString::fromLatin1(caption) << key << QString::fromLatin1(category);
}

// The one table between captions and settings: both ways, in display order, and the caption
// overloads reach the same item as the setting ones.
void TestOutputModel::settingCaptions()
{
    QFETCH(QString, caption);
    QFETCH(int, key);
    QFETCH(QString, category);
    const AdvancedSettings &grid = m_model.grid();
    const auto found = AdvancedSettings::settingOf(caption);
    if (key < 0) {
        QVERIFY(!found);
        QVERIFY(!grid.item(caption));
        QVERIFY(!grid.refusal(caption, QStringLiteral("1")).isEmpty());
        return;
    }
    const auto setting = AdvancedSettings::Setting(key);
    QCOMPARE(found, std::optional(setting));
    QCOMPARE(AdvancedSettings::captionOf(setting), caption);
    QCOMPARE(grid.items().at(key).key, setting);
    QCOMPARE(grid.items().at(key).caption, caption);
    QCOMPARE(grid.item(caption), grid.item(setting));
    QCOMPARE(grid.item(setting)->category, category);
    QCOMPARE(grid.value(caption), grid.value(setting));
}

// The edges of what each rule of the grid takes, on a 640 x 360 picture with Bottom at 0.
void TestOutputModel::refusalEdges_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("refusal"); // a part of the sentence; "" when taken
    const char *const rows[][3] = {
        { "Video Bitrate", "1000000k", "" },
        { "Video Bitrate", "1000001k",
          "\"1000001k\" for Video Bitrate is not a usable bit rate: "
          "give more than 0 and at most 1000000k" },
        { "Video Bitrate", "0k", "not a usable bit rate" },
        { "Video Bitrate", "Auto", "" },
        { "Video Bitrate", "", "" },
        { "Audio Bitrate", "10000k", "" },
        { "Audio Bitrate", "10001k", "at most 10000k" },
        { "Audio Bitrate", "96K", "" },
        { "Sample Rate", "768000", "" },
        { "Sample Rate", "768001", "at most 768000" },
        { "Sample Rate", "44.1k", "is not a sample rate" },
        { "Frame Rate (FPS)", "1000", "" },
        { "Frame Rate (FPS)", "1000.1", "at most 1000" },
        { "Frame Rate (FPS)", ".5", "" },
        { "Frame Rate (FPS)", "25fps", "is not a frame rate" },
        { "Aspect Rate", "10000:1", "" },
        { "Aspect Rate", "10001:1", "from 1 to 10000" },
        { "Aspect Rate", "0:9", "not a usable aspect ratio" },
        { "Aspect Rate", "16/9", "is not an aspect ratio" },
        { "Rotate", "-270", "" },
        { "Rotate", "-271", "is not a rotation from -270 to 270 degrees" },
        { "Rotate", "9.5", "is not a whole number" },
        { "Top", "358", "" },
        { "Top", "359",
          "\"359\" for Top crops the picture away: with Bottom at 0, the picture "
          "is only 360 pixels high" },
        { "Right", "639", "with Left at 0, the picture is only 640 pixels wide" },
        { "Left", "-1", "is negative" },
        { "Channels", "2", "" },
        { "Channels", "3", "is not one of its choices: Auto, 1, 2" },
        { "Remove Audio", "false", "" },
        { "Remove Audio", "yes", "is not a check box value" },
        { "Filename Extension", "anything", "" },
    };
    for (const auto &[caption, value, refusal] : rows)
        QTest::addRow("%s=%s", caption, value)
            << QString::fromLatin1(caption) << QString::fromLatin1(value)
            << QString::fromLatin1(refusal);
}

void TestOutputModel::refusalEdges()
{
    QFETCH(QString, caption);
    QFETCH(QString, value);
    QFETCH(QString, refusal);
    AdvancedSettings &grid = m_model.grid();
    grid.setPictureSize(640, 360);
    const QString said = grid.refusal(caption, value);
    if (refusal.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(refusal), qPrintable(said));
    // The program's own reads name the setting and get the same answer.
    QCOMPARE(grid.refusal(*AdvancedSettings::settingOf(caption), value), said);
}

void TestOutputModel::gridHandler()
{
    QFETCH(QString, caption);
    QFETCH(QString, typed);
    QFETCH(QString, value);
    AdvancedSettings &grid = m_model.grid();
    grid.setPictureSize(640, 360);
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("True")); // margins editable
    QVERIFY(grid.userEdit(caption, typed));
    QCOMPARE(grid.value(caption), value);
}

void TestOutputModel::removeAudioHidesAudioItems()
{
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Audio Bitrate"), QStringLiteral("96k"));
    grid.userEdit(QStringLiteral("Remove Audio"), QStringLiteral("True"));
    for (const char *c : { "Audio Bitrate", "Sample Rate", "Channels" })
        QVERIFY(grid.isHidden(QString::fromLatin1(c)));
    grid.userEdit(QStringLiteral("Remove Audio"), QStringLiteral("False"));
    for (const char *c : { "Audio Bitrate", "Sample Rate", "Channels" })
        QVERIFY(!grid.isHidden(QString::fromLatin1(c)));
    QCOMPARE(grid.value(QStringLiteral("Audio Bitrate")), QStringLiteral("96k"));
}

void TestOutputModel::cropMarginsReadOnly()
{
    AdvancedSettings &grid = m_model.grid();
    QVERIFY(grid.isReadOnly(QStringLiteral("Top")));
    QVERIFY(!grid.userEdit(QStringLiteral("Top"), QStringLiteral("5")));
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("True"));
    QVERIFY(grid.userEdit(QStringLiteral("Top"), QStringLiteral("5")));
    QVERIFY(!grid.userEdit(QStringLiteral("Top"), QStringLiteral("five"))); // numbers only
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("False"));
    QVERIFY(grid.isReadOnly(QStringLiteral("Top")));
    QCOMPARE(grid.number(QStringLiteral("Top")), 5);
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("True"));
    QVERIFY(!grid.isReadOnly(QStringLiteral("Top")));
    QVERIFY(grid.isReadOnly(QStringLiteral("Filename Extension")));
}

void TestOutputModel::presetsKeepCropFlipRotate()
{
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("True"));
    grid.userEdit(QStringLiteral("Top"), QStringLiteral("8"));
    grid.userEdit(QStringLiteral("Horizontally Flip"), QStringLiteral("True"));
    grid.userEdit(QStringLiteral("Rotate"), QStringLiteral("90"));
    grid.userEdit(QStringLiteral("Remove Audio"), QStringLiteral("True"));
    m_model.SelectCatalogueEntry(1030, QString());
    QVERIFY(grid.checked(QStringLiteral("Crop Video")));
    QCOMPARE(grid.number(QStringLiteral("Top")), 8);
    QVERIFY(grid.checked(QStringLiteral("Horizontally Flip")));
    QCOMPARE(grid.number(QStringLiteral("Rotate")), 90);
    QVERIFY(!grid.checked(QStringLiteral("Remove Audio")));
    QVERIFY(!grid.isHidden(QStringLiteral("Audio Bitrate")));
}

void TestOutputModel::defaultName_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "/home/ann/Holiday.mp4"
                           << "Holiday-cut";
    QTest::newRow("two dots") << "/v/a.b.mkv"
                              << "a.b-cut";
    QTest::newRow("no dot after the folder") << "/a.b/clip"
                                             << "before";
    QTest::newRow("no dot at all") << "/v/clip"
                                   << "before";
    QTest::newRow("at sign") << "/v/me@home.mp4"
                             << "mehome-cut";
    QTest::newRow("colon and quote") << "/v/a:b\"c.mp4"
                                     << "abc-cut";
}

void TestOutputModel::defaultName()
{
    QFETCH(QString, input);
    QFETCH(QString, name);
    m_model.setFileName(QStringLiteral("before"));
    m_model.setDefaultName(input);
    QCOMPARE(m_model.fileName(), name);
}

void TestOutputModel::nameFilters()
{
    for (QChar c : QStringLiteral("*/:?<>|\\@\""))
        QVERIFY(!OutputSettingsModel::nameKeyAccepted(c));
    QVERIFY(OutputSettingsModel::nameKeyAccepted(QLatin1Char('a')));
    QVERIFY(OutputSettingsModel::nameKeyAccepted(QLatin1Char(' ')));
    m_model.setFileName(QStringLiteral("a:b"));
    QCOMPARE(m_model.fileName(), QStringLiteral("ab"));
    m_model.setFileName(QStringLiteral("*/x?y<>|z\\@\"é"));
    QCOMPARE(m_model.fileName(), QStringLiteral("xyzé"));
}

void TestOutputModel::outputNameChecks()
{
    QTemporaryDir dir;
    m_model.setFileName(QStringLiteral("   "));
    auto check = m_model.checkOutputName();
    QVERIFY(!check.ok);
    QCOMPARE(check.message, QStringLiteral("Invalid file name!"));
    QCOMPARE(check.focus, OutputSettingsModel::Box::FileName);
    QVERIFY(!check.openFolderChooser);

    m_model.setFileName(QStringLiteral("  clip-cut "));
    m_model.setFolder(QString());
    check = m_model.checkOutputName();
    QVERIFY(!check.ok);
    QCOMPARE(m_model.fileName(), QStringLiteral("clip-cut"));
    QCOMPARE(m_model.folder(), QStringLiteral("/"));
    QCOMPARE(check.message, QStringLiteral("Invalid path!"));
    QCOMPARE(check.focus, OutputSettingsModel::Box::Folder);
    QVERIFY(check.openFolderChooser);

    m_model.setFolder(dir.filePath(QStringLiteral("missing")));
    QVERIFY(!m_model.checkOutputName().ok);

    m_model.setFolder(QStringLiteral(" ") + dir.path() + QStringLiteral(" "));
    check = m_model.checkOutputName();
    QVERIFY(check.ok);
    QCOMPARE(m_model.folder(), dir.path() + QLatin1Char('/'));
    m_model.setFolder(dir.path() + QLatin1Char('/'));
    QVERIFY(m_model.checkOutputName().ok);
    QCOMPARE(m_model.folder(), dir.path() + QLatin1Char('/')); // no second separator

    // Relative folders are made absolute once, from the working folder, which stays put.
    const QString before = QDir::currentPath();
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("a/out")));
    QVERIFY(QDir::setCurrent(dir.filePath(QStringLiteral("a"))));
    const QString a = QDir::currentPath();
    for (const auto &[typed, expected] :
         { std::pair { QStringLiteral("out"), a + QStringLiteral("/out/") },
           std::pair { QStringLiteral("."), a + QLatin1Char('/') },
           std::pair { QStringLiteral(".."), QFileInfo(a).absolutePath() + QLatin1Char('/') },
           std::pair { QStringLiteral("out/../out/."), a + QStringLiteral("/out/") } }) {
        m_model.setFolder(typed);
        QVERIFY2(m_model.checkOutputName().ok, qPrintable(typed));
        QCOMPARE(m_model.folder(), expected);
        QCOMPARE(QDir::currentPath(), a);
    }
    m_model.setFolder(QStringLiteral("missing"));
    QVERIFY(!m_model.checkOutputName().ok);
    QDir::setCurrent(before);
}

QTEST_GUILESS_MAIN(TestOutputModel)
#include "tst_outputmodel.moc"
