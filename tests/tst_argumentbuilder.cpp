#include "argumentbuilder.h"
#include "outputmodel.h"

#include <QTest>

// The encoder option string, to the character.
class TestArgumentBuilder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void workedExample();
    void directCopy_data();
    void directCopy();
    void flipSurvivesSwitchToCopy();
    void sourceWithoutVideo();
    void cropWithoutMargins();
    void cropAndScale();
    void channels_data();
    void channels();
    void realVideoCap_data();
    void realVideoCap();
    void mpeg4FrameRate_data();
    void mpeg4FrameRate();
    void removeAudioKeepsAudioOptions();
    void threeGpFixedAudio();
    void everyFormatRow_data();
    void everyFormatRow();
    void qualityDefaults_data();
    void qualityDefaults();
    void videoBitrate_data();
    void videoBitrate();
    void flipsAndRotation();
    void gridValuesOverrideDefaults();

private:
    EncoderJob build() { return BuildEncoderArguments(m_model, m_in, m_memory); }
    void select(int id) { m_model.SelectCatalogueEntry(id, QString()); }

    OutputSettingsModel m_model;
    BuildInputs m_in;
    BuilderMemory m_memory;
};

void TestArgumentBuilder::init()
{
    m_model.load(QStringLiteral("/tmp/"));
    m_in = BuildInputs { QStringLiteral("/v/Clip.mp4"), 1280, 720, true, 2000, 12.5, 30, 2 };
    m_memory = BuilderMemory();
}

void TestArgumentBuilder::workedExample()
{
    const EncoderJob job = build();
    QCOMPARE(job.EncoderArguments,
             QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 2000k -ab 128k -ar 44100 "
                            "-s 1280x720 -TimeLength 30"));
    QCOMPARE(job.OutputExtension, QStringLiteral("mp4"));
    QVERIFY(!job.DirectCopyMode);
}

void TestArgumentBuilder::directCopy_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::newRow("upper case") << "/v/Clip.MP4"
                                << "mp4";
    QTest::newRow("no extension") << "/v.d/clip"
                                  << "";
    QTest::newRow("two dots") << "/v/a.b.Mkv"
                              << "mkv";
}

void TestArgumentBuilder::directCopy()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    m_in.InputFilePath = path;
    m_model.option1Click();
    const EncoderJob job = build();
    QVERIFY(job.DirectCopyMode);
    QCOMPARE(job.EncoderArguments, QStringLiteral("-vcodec copy -acodec copy -ss 12.5 -t 30"));
    QCOMPARE(job.OutputExtension, extension);
    m_in.CutStartSeconds = 0.5;
    m_in.CutLengthSeconds = 305 / 10.0;
    QCOMPARE(build().EncoderArguments, QStringLiteral("-vcodec copy -acodec copy -ss 0.5 -t 30.5"));
}

void TestArgumentBuilder::flipSurvivesSwitchToCopy()
{
    m_model.grid().userEdit(QStringLiteral("Vertically Flip"), QStringLiteral("True"));
    m_model.option1Click();
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vcodec copy -acodec copy -vf \"vflip\" -ss 12.5 -t 30"));
}

void TestArgumentBuilder::sourceWithoutVideo()
{
    m_in.SourceHasVideo = false;
    m_in.SourceWidth = m_in.SourceHeight = 0;
    m_in.SourceBitrateKbps = 88;
    m_model.grid().userEdit(QStringLiteral("Vertically Flip"), QStringLiteral("True"));
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 0k -ab 128k -ar 44100 -vn "
                            " -TimeLength 30"));
    select(1046); // 3GP with size "Auto" still gets its small frame (and, from no picture,
                  // the source's own rate)
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vb 88k -ab 6700 -ac 1 -ar 8000 -s 176x144 -TimeLength 30"));
}

void TestArgumentBuilder::cropWithoutMargins()
{
    m_model.grid().userEdit(QStringLiteral("Crop Video"), QStringLiteral("True"));
    m_model.selectSize(3);
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 167k -ab 128k -ar 44100 "
                            "-TimeLength 30"));
}

void TestArgumentBuilder::cropAndScale()
{
    m_in.SourceWidth = 640;
    m_in.SourceHeight = 480;
    m_in.SourceBitrateKbps = 1000;
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("True"));
    grid.userEdit(QStringLiteral("Top"), QStringLiteral("10"));
    grid.userEdit(QStringLiteral("Left"), QStringLiteral("20"));
    m_model.selectSize(3); // "320 x 240 (qvga)"
    // Kept width 640 - 20 - 0, height 480 - 10 - 0.
    QCOMPARE(BuildFilterPart(m_model, m_in),
             QStringLiteral(" -vf \"crop=620:470:20:10,scale=320:240\""));
    grid.userEdit(QStringLiteral("Right"), QStringLiteral("20"));
    QCOMPARE(BuildFilterPart(m_model, m_in),
             QStringLiteral(" -vf \"crop=600:470:20:10,scale=320:240\""));
    QCOMPARE(
        build().EncoderArguments,
        QStringLiteral("-vcodec libx264 -vpre libx264-veryfast -vb 250k -ab 128k -ar 44100 -vf "
                       "\"crop=600:470:20:10,scale=320:240\" -TimeLength 30"));
    // Size "Auto": crop alone.
    m_model.selectSize(0);
    QCOMPARE(BuildCropScale(m_model, m_in), QStringLiteral("crop=600:470:20:10"));
    QVERIFY(build().EncoderArguments.endsWith(
        QStringLiteral("-ar 44100 -vf \"crop=600:470:20:10\" -TimeLength 30")));
    // Off: the margins stay but apply no more.
    grid.userEdit(QStringLiteral("Crop Video"), QStringLiteral("False"));
    QCOMPARE(BuildCropScale(m_model, m_in), QString());
    QCOMPARE(grid.number(QStringLiteral("Top")), 10);
}

void TestArgumentBuilder::channels_data()
{
    QTest::addColumn<int>("sourceChannels");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("auto, 5.1 source") << 6 << "Auto"
                                      << "-ac 2 ";
    QTest::newRow("auto, 3 channels") << 3 << "Auto"
                                      << "-ac 2 ";
    QTest::newRow("auto, stereo") << 2 << "Auto"
                                  << "";
    QTest::newRow("mono asked, 5.1 source") << 6 << "1"
                                            << "-ac 1 ";
    QTest::newRow("stereo asked, mono source") << 1 << "2"
                                               << "-ac 2 ";
}

void TestArgumentBuilder::channels()
{
    QFETCH(int, sourceChannels);
    QFETCH(QString, setting);
    QFETCH(QString, prefix);
    m_in.AudioChannelCount = sourceChannels;
    m_model.grid().userEdit(QStringLiteral("Channels"), setting);
    QCOMPARE(build().EncoderArguments,
             prefix
                 + QStringLiteral("-vcodec libx264 -vpre libx264-veryfast "
                                  "-vb 2000k -ab 128k -ar 44100 -s "
                                  "1280x720 -TimeLength 30"));
}

void TestArgumentBuilder::realVideoCap_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<int>("sourceKbps");
    QTest::addColumn<QString>("sent");
    QTest::newRow("1500k from the grid") << "1500k" << 2000 << "1000k";
    QTest::newRow("800k from the grid") << "800k" << 2000 << "800k";
    QTest::newRow("computed 2000k") << "Auto" << 2000 << "1000k";
    QTest::newRow("computed 900k") << "Auto" << 900 << "900k";
    QTest::newRow("1001 without k") << "1001" << 2000 << "1000k";
}

void TestArgumentBuilder::realVideoCap()
{
    QFETCH(QString, grid);
    QFETCH(int, sourceKbps);
    QFETCH(QString, sent);
    m_in.SourceBitrateKbps = sourceKbps;
    select(1052);
    m_model.grid().userEdit(QStringLiteral("Video Bitrate"), grid);
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vcodec rv20 -vb %1 -ab 128k -ar 44100 -s 1280x720 -TimeLength 30")
                 .arg(sent));
}

void TestArgumentBuilder::mpeg4FrameRate_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("mov") << 1034 << "-r 29.97 ";
    QTest::newRow("mp4") << 1032 << "-r 29.97 ";
    QTest::newRow("mp4h264") << 1057 << "";
    QTest::newRow("flv") << 1028 << "";
}

void TestArgumentBuilder::mpeg4FrameRate()
{
    QFETCH(int, id);
    QFETCH(QString, prefix);
    select(id);
    QVERIFY(build().EncoderArguments.startsWith(prefix + QStringLiteral("-v")));
    m_model.grid().userEdit(QStringLiteral("Frame Rate (FPS)"), QStringLiteral("25"));
    QVERIFY(build().EncoderArguments.startsWith(QStringLiteral("-r 25 -v")));
}

void TestArgumentBuilder::removeAudioKeepsAudioOptions()
{
    m_model.grid().userEdit(QStringLiteral("Remove Audio"), QStringLiteral("True"));
    QCOMPARE(
        build().EncoderArguments,
        QStringLiteral("-an -vcodec libx264 -vpre libx264-veryfast -vb 2000k -ab 128k -ar 44100 "
                       "-s 1280x720 -TimeLength 30"));
}

void TestArgumentBuilder::threeGpFixedAudio()
{
    select(1046);
    m_model.grid().userEdit(QStringLiteral("Sample Rate"), QStringLiteral("44100"));
    // 176 x 144 = 25344 pixels of a 921600-pixel, 2000 kbit/s source: 55 kbit/s.
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vb 55k -ab 6700 -ac 1 -ar 8000 -s 176x144 -TimeLength 30"));
    m_model.selectSize(5); // a chosen size is kept
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-vb 220k -ab 6700 -ac 1 -ar 8000 -s 352x288 -TimeLength 30"));
}

void TestArgumentBuilder::everyFormatRow_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("extension");
    const QString s = QStringLiteral(" -s 1280x720 -TimeLength 30");
    QTest::newRow("3gp") << 1046 << "-vb 55k -ab 6700 -ac 1 -ar 8000 -s 176x144 -TimeLength 30"
                         << "3gp";
    QTest::newRow("asf") << 1036
                         << "-vcodec msmpeg4v2 -vb 2000k -acodec wmav2 -ab 128k -ar 44100" + s
                         << "asf";
    QTest::newRow("avi") << 1045
                         << "-vcodec libxvid -vb 2000k -acodec libmp3lame -ab 128k -ar 44100" + s
                         << "avi";
    QTest::newRow("f4v") << 1029
                         << "-vcodec libx264 -vpre libx264-veryfast -f flv -vb 2000k -acodec "
                            "libfaac -ab 128k -ar 44100 -ac 2"
            + s << "f4v";
    QTest::newRow("flv") << 1028 << "-vb 2000k -ab 64k -ar 44100" + s << "flv";
    QTest::newRow("mkv")
        << 1030
        << "-vcodec libx264 -vpre libx264-veryfast -vb 2000k  -acodec libmp3lame -ab 128k -ar 44100"
            + s
        << "mkv";
    QTest::newRow("mov") << 1034 << "-r 29.97 -vb 2000k -ab 256k -ar 44100" + s << "mov";
    QTest::newRow("mp4") << 1032 << "-r 29.97 -vb 2000k -ab 128k -ar 44100" + s << "mp4";
    QTest::newRow("mpg") << 1050 << "-vb 2000k -ab 128k -ar 44100" + s << "mpg";
    QTest::newRow("mpg2") << 1177 << "-vcodec mpeg2video -vb 2000k -ab 128k -ar 44100" + s << "mpg";
    QTest::newRow("rm") << 1052 << "-vcodec rv20 -vb 1000k -ab 128k -ar 44100" + s << "rm";
    QTest::newRow("swf") << 1051 << "-vb 2000k -ab 64k -ar 44100" + s << "swf";
    QTest::newRow("vob") << 1035
                         << "-target dvd -vb 3300k -ab 192k -ar 48000 -s 720x480 -TimeLength 30"
                         << "vob";
    QTest::newRow("webm") << 1053
                          << "-vcodec libvpx -vb 2000k  -acodec libvorbis -ab 128k -ar 44100" + s
                          << "webm";
    QTest::newRow("wmv") << 1037 << "-vcodec wmv2 -vb 2000k -acodec wmav2 -ab 128k -ar 44100" + s
                         << "wmv";
    QTest::newRow("ntsc-vcd")
        << 1179
        << "-r 29.97 -target ntsc-vcd -vb 1150k -ab 224k -ar 44100 -s 352x240 -TimeLength 30"
        << "mpg";
    QTest::newRow("pal-vcd")
        << 1181 << "-r 25 -target pal-vcd -vb 1150k -ab 224k -ar 44100 -s 352x288 -TimeLength 30"
        << "mpg";
    QTest::newRow("ntsc-dvd")
        << 1180 << "-r 29.97 -target ntsc-dvd -ab 128k -ar 44100 -s 720x480 -TimeLength 30"
        << "mpg";
    QTest::newRow("pal-dvd") << 1182
                             << "-r 25 -target pal-dvd -ab 128k -ar 44100 -s 720x576 -TimeLength 30"
                             << "mpg";
    QTest::newRow("aac") << 1186 << "-vn -ab 128k -ar 44100 -TimeLength 30"
                         << "aac";
    QTest::newRow("ac3") << 1188 << "-vn -ab 128k -ar 44100 -TimeLength 30"
                         << "ac3";
    QTest::newRow("aiff") << 1187 << "-vn  -ar 44100 -TimeLength 30"
                          << "aiff";
    QTest::newRow("flac") << 1189 << "-vn  -ar 44100 -TimeLength 30"
                          << "flac";
    QTest::newRow("m4a") << 1190 << "-vn -ab 128k -ar 44100 -TimeLength 30"
                         << "m4a";
    QTest::newRow("mp2") << 1184 << "-vn -ab 128k -ar 44100 -TimeLength 30"
                         << "mp2";
    QTest::newRow("mp3") << 1185 << "-vn -ab 128k -ar 44100 -TimeLength 30"
                         << "mp3";
    QTest::newRow("ogg") << 1191 << "-vn -acodec libvorbis -ab 128k -ar 44100 -TimeLength 30"
                         << "ogg";
    QTest::newRow("ra") << 1192 << "-vn  -ab 128k -ar 44100 -TimeLength 30"
                        << "ra";
    QTest::newRow("wav") << 1193 << "-vn  -ar 44100 -TimeLength 30"
                         << "wav";
    QTest::newRow("wma") << 1194 << "-vn  -acodec wmav2 -ab 128k -ar 44100 -TimeLength 30"
                         << "wma";
    QTest::newRow("device with presets")
        << 1108 << "-r 25 -ac 2 -vb 135k -ab 96k -ar 44100 -s 240x260 -TimeLength 30"
        << "mp4";
}

void TestArgumentBuilder::everyFormatRow()
{
    QFETCH(int, id);
    QFETCH(QString, arguments);
    QFETCH(QString, extension);
    select(id);
    const EncoderJob job = build();
    QCOMPARE(job.EncoderArguments, arguments);
    QCOMPARE(job.OutputExtension, extension);
}

void TestArgumentBuilder::qualityDefaults_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("audio");
    QTest::newRow("avi high") << 1045 << 0 << "-ab 320k -ar 44100";
    QTest::newRow("avi low") << 1045 << 2 << "-ab 64k -ar 22050";
    QTest::newRow("mov low") << 1034 << 2 << "-ab 96k -ar 22050";
    QTest::newRow("vob high") << 1035 << 0 << "-ab 320k -ar 48000";
    QTest::newRow("vob low") << 1035 << 2 << "-ab 96k -ar 44100";
    QTest::newRow("aac high") << 1186 << 0 << "-ab 256k -ar 48000";
    QTest::newRow("ac3 low") << 1188 << 2 << "-ab 96k -ar 22050";
    QTest::newRow("mp3 low") << 1185 << 2 << "-ab 64k -ar 22050";
    QTest::newRow("wav high") << 1193 << 0 << " -ar 48000";
    QTest::newRow("ra high") << 1192 << 0 << "-ab 256k -ar 44100";
    QTest::newRow("3gp high") << 1046 << 0 << "-ab 12200 -ac 1";
    QTest::newRow("3gp low") << 1046 << 2 << "-ab 4750 -ac 1";
}

void TestArgumentBuilder::qualityDefaults()
{
    QFETCH(int, id);
    QFETCH(int, quality);
    QFETCH(QString, audio);
    select(id);
    m_model.selectAudioQuality(quality);
    const QString args = build().EncoderArguments;
    QVERIFY2(args.contains(audio), qPrintable(args));
}

void TestArgumentBuilder::videoBitrate_data()
{
    QTest::addColumn<int>("sourceW");
    QTest::addColumn<int>("sourceH");
    QTest::addColumn<int>("sourceKbps");
    QTest::addColumn<int>("sizeIndex");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("expected");
    QTest::newRow("same size normal") << 1280 << 720 << 2000 << 0 << 1 << "2000k";
    QTest::newRow("same size high") << 1280 << 720 << 2000 << 0 << 0 << "3000k";
    QTest::newRow("same size low") << 1280 << 720 << 2000 << 0 << 2 << "1333k";
    QTest::newRow("high, half to even down") << 1280 << 720 << 5 << 0 << 0 << "8k";
    QTest::newRow("high 3 * 1.5 = 4.5 to 4") << 1280 << 720 << 3 << 0 << 0 << "4k";
    QTest::newRow("upscale keeps the source rate") << 320 << 240 << 700 << 13 << 1 << "700k";
    QTest::newRow("downscale") << 1280 << 720 << 2000 << 3 << 1 << "167k";
    QTest::newRow("unknown source rate") << 1280 << 720 << 0 << 3 << 1 << "512k";
    QTest::newRow("unknown rate, 720p") << 1280 << 720 << 0 << 0 << 1 << "6144k";
}

void TestArgumentBuilder::videoBitrate()
{
    QFETCH(int, sourceW);
    QFETCH(int, sourceH);
    QFETCH(int, sourceKbps);
    QFETCH(int, sizeIndex);
    QFETCH(int, quality);
    QFETCH(QString, expected);
    m_in.SourceWidth = sourceW;
    m_in.SourceHeight = sourceH;
    m_in.SourceBitrateKbps = sourceKbps;
    m_model.selectSize(sizeIndex);
    m_model.selectVideoQuality(quality);
    QVERIFY(
        build().EncoderArguments.contains(QStringLiteral("-vb ") + expected + QLatin1Char(' ')));
}

void TestArgumentBuilder::flipsAndRotation()
{
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Horizontally Flip"), QStringLiteral("True"));
    QCOMPARE(BuildFilterPart(m_model, m_in), QStringLiteral(" -vf \"hflip\""));
    grid.userEdit(QStringLiteral("Vertically Flip"), QStringLiteral("True"));
    grid.userEdit(QStringLiteral("Rotate"), QStringLiteral("-90"));
    QCOMPARE(BuildFilterPart(m_model, m_in), QStringLiteral(" -vf \"vflip,hflip,rotate=-90\""));
    select(1185); // an audio entry: no filters
    QCOMPARE(BuildFilterPart(m_model, m_in), QString());
}

void TestArgumentBuilder::gridValuesOverrideDefaults()
{
    AdvancedSettings &grid = m_model.grid();
    grid.userEdit(QStringLiteral("Video Bitrate"), QStringLiteral("1500K"));
    grid.userEdit(QStringLiteral("Audio Bitrate"), QStringLiteral("96k"));
    grid.userEdit(QStringLiteral("Sample Rate"), QStringLiteral("48000"));
    grid.userEdit(QStringLiteral("Aspect Rate"), QStringLiteral("16:9"));
    QCOMPARE(build().EncoderArguments,
             QStringLiteral("-aspect 16:9 -vcodec libx264 -vpre libx264-veryfast -vb 1500K -ab 96k "
                            "-ar 48000 -s 1280x720 -TimeLength 30"));
}

QTEST_GUILESS_MAIN(TestArgumentBuilder)
#include "tst_argumentbuilder.moc"
