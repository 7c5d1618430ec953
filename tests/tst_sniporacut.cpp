#include "avprobe.h"
#include "formvideoformat.h"
#include "mediafixtures.h"
#include "recordingmessagesink.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace MediaFixtures;

// The command-line front end against the dialog it mirrors, and its runs.
class TestSniporaCut : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listFormats();
    void help();
    void sameStringAsTheDialog_data();
    void sameStringAsTheDialog();
    void badUsage_data();
    void badUsage();
    void runSavesAndRefusesToOverwrite();
    void interruptLeavesNothing();

private:
    struct Result
    {
        int status = -1;
        QString out;
        QString err;
    };
    Result cut(const QStringList &args, int timeoutMs = 120000);

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_program;
};

void TestSniporaCut::initTestCase()
{
    m_program = QCoreApplication::applicationDirPath() + QStringLiteral("/snipora-cut");
    QVERIFY(QFileInfo(m_program).isExecutable());
    m_clip = makeH264Aac(QDir(m_dir.path()), QStringLiteral("clip.mp4"), 8);
    QVERIFY(!m_clip.isEmpty());
}

TestSniporaCut::Result TestSniporaCut::cut(const QStringList &args, int timeoutMs)
{
    Result r;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(m_program, args);
    if (!p.waitForFinished(timeoutMs))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TestSniporaCut::listFormats()
{
    const Result r = cut({QStringLiteral("--list-formats")});
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 138);
    for (const QString &line : lines)
        QCOMPARE(line.split(QLatin1Char('\t')).size(), 11);
    QCOMPARE(lines.first(), QStringLiteral("1186\tID_AAC\tAAC - Advanced Audio Coding Files (*.aac)\t"
                                           "General Audio Format\taac\t1\t\t\t\t\t"));
    QVERIFY(lines.contains(QStringLiteral("1108\tID_BLACKBERRYPEARLMPEGVIDEO\tBlackBerry Pearl "
                                          "8100/8110/8120/8130 - MPEG4 Video\tDevice/BlackBerry\tmp4"
                                          "\t0\t240\t260\t25\t96k\t2")));
    QVERIFY(lines.last().startsWith(QStringLiteral("1138\t")));
}

void TestSniporaCut::help()
{
    const Result r = cut({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QStringLiteral("Usage:")));
    QVERIFY(r.out.contains(QStringLiteral("--print-args")));
}

void TestSniporaCut::sameStringAsTheDialog_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("entry");      // 0: the default entry
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("size");   // "" auto, else "WxH" through the boxes
    QTest::addColumn<int>("videoQuality");
    QTest::addColumn<int>("audioQuality");
    QTest::addColumn<QStringList>("sets");
    QTest::newRow("defaults") << QStringList{} << 0 << false << "" << 1 << 1 << QStringList{};
    QTest::newRow("copy with a flip")
        << QStringList{"--copy", "--set", "Vertically Flip=True"} << 0 << true << "" << 1 << 1
        << QStringList{"Vertically Flip=True"};
    QTest::newRow("key-frame copy") << QStringList{"--keyframe-copy"} << 0 << true << "" << 1 << 1
                                    << QStringList{};
    QTest::newRow("device by symbol, crop")
        << QStringList{"--format", "ID_BLACKBERRYPEARLMPEGVIDEO", "--set", "Crop Video=True", "--set", "Top=-12"}
        << 1108 << false << "" << 1 << 1 << QStringList{"Crop Video=True", "Top=-12"};
    QTest::newRow("audio entry by caption, low")
        << QStringList{"--format", "MP3 - MPEG Layer-3 Audio (*.mp3)", "--audio-quality", "low"}
        << 1185 << false << "" << 1 << 2 << QStringList{};
    QTest::newRow("odd size, high video, rm")
        << QStringList{"--format", "1052", "--size", "333x201", "--video-quality", "high"}
        << 1052 << false << "333x201" << 0 << 1 << QStringList{};
    QTest::newRow("settings after quality")
        << QStringList{"--set", "Video Bitrate=900k", "--video-quality", "low", "--set", "Channels=1"}
        << 0 << false << "" << 2 << 1 << QStringList{"Video Bitrate=900k", "Channels=1"};
}

void TestSniporaCut::sameStringAsTheDialog()
{
    QFETCH(QStringList, options);
    QFETCH(int, entry);
    QFETCH(bool, copy);
    QFETCH(QString, size);
    QFETCH(int, videoQuality);
    QFETCH(int, audioQuality);
    QFETCH(QStringList, sets);

    const Result r = cut(QStringList{m_clip, "--start", "00:00:01.5", "--end", "6.5", "--print-args"} + options);
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);

    // The dialog with the same source and the same choices.
    AvProbe probe;
    QVERIFY(probe.open(m_clip, QString()));
    SharedValues shared;
    shared.InputFilePath = m_clip;
    shared.OutputFolder = m_dir.path() + QLatin1Char('/');
    shared.SourceWidth = probe.pictureWidth(probe.videoStreamIndex());
    shared.SourceHeight = probe.pictureHeight(probe.videoStreamIndex());
    shared.SourceHasVideo = true;
    shared.SourceBitrateKbps = EstimateSourceBitrateKbps(probe.fileSize(), probe.durationMicros() / 100000.0,
                                                         probe.audioStreamCount());
    shared.CutStartSeconds = 1.5;
    shared.CutLengthSeconds = 5;
    RecordingMessageSink messages;
    FormVideoFormatParts parts;
    parts.shared = &shared;
    parts.messages = &messages;
    parts.audioChannelCount = [&] { return probe.channelCount(probe.audioStreamIndex()); };
    bool started = false;
    parts.startConversion = [&] { started = true; };
    FormVideoFormat dialog(std::move(parts), nullptr);
    OutputSettingsModel &m = dialog.model();
    if (entry)
        m.SelectCatalogueEntry(entry, QString());
    if (copy)
        m.option1Click();
    if (options.contains(QStringLiteral("--keyframe-copy")))
        m.setExactCut(false);
    if (!size.isEmpty()) {
        m.selectSize(OutputSettingsModel::CustomSizeIndex);
        m.setWidthText(size.section(QLatin1Char('x'), 0, 0));
        m.ValidateSizeBox(OutputSettingsModel::Box::Width);
        m.setHeightText(size.section(QLatin1Char('x'), 1, 1));
        m.ValidateSizeBox(OutputSettingsModel::Box::Height);
    }
    // Quality levels only where the command line chose one: choosing resets bit rates.
    if (options.contains(QStringLiteral("--video-quality")))
        m.selectVideoQuality(videoQuality);
    if (options.contains(QStringLiteral("--audio-quality")))
        m.selectAudioQuality(audioQuality);
    for (const QString &set : sets)
        QVERIFY(m.grid().userEdit(set.section(QLatin1Char('='), 0, 0), set.section(QLatin1Char('='), 1)));
    m.setFileName(QStringLiteral("dialog-cut"));
    QVERIFY(dialog.ok());
    QVERIFY(started);
    QCOMPARE(lines.at(0), shared.EncoderArguments);
    QCOMPARE(lines.at(1), shared.OutputExtension);
    QCOMPARE(lines.at(2), shared.ExactCopyMode    ? QStringLiteral("exact-copy")
                          : shared.DirectCopyMode ? QStringLiteral("copy")
                                                  : QStringLiteral("convert"));
}

void TestSniporaCut::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "no input file";
    QTest::newRow("no end") << QStringList{"clip.mp4", "--start", "1"} << "--start and --end";
    QTest::newRow("bad time") << QStringList{"clip.mp4", "--start", "1:2:3", "--end", "5"} << "not a time code";
    QTest::newRow("end before start") << QStringList{"clip.mp4", "--start", "5", "--end", "5"} << "must come after";
    QTest::newRow("unknown format") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--format", "ZZZ"} << "no format";
    QTest::newRow("unknown setting") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--set", "Colour=red"} << "names no advanced setting";
    QTest::newRow("read-only setting") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--set", "Top=5"} << "cannot be changed";
    QTest::newRow("bad quality") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--video-quality", "best"} << "not high, normal or low";
    QTest::newRow("bad size") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--size", "big"} << "neither auto nor WxH";
    QTest::newRow("missing file") << QStringList{"gone.mp4", "--start", "1", "--end", "2"} << "File not found";
    QTest::newRow("not media") << QStringList{"notes.mp4", "--start", "1", "--end", "2"} << "Not a media file";
    QTest::newRow("missing folder") << QStringList{"clip.mp4", "--start", "1", "--end", "2", "--output-dir", "/nonexistent/x"} << "Invalid path!";
    QTest::newRow("unknown option") << QStringList{"clip.mp4", "--frobnicate"} << "unknown option";
}

void TestSniporaCut::badUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFile notes(m_dir.filePath(QStringLiteral("notes.mp4")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a film");
    notes.close();
    const Result r = cut(args);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1); // one line
    QVERIFY(r.out.isEmpty());
}

void TestSniporaCut::runSavesAndRefusesToOverwrite()
{
    const QString out = m_dir.filePath(QStringLiteral("run-cut.mp3"));
    const QStringList args{m_clip, "--start", "1", "--end", "3", "--format", "ID_MPB", "--name", "run-cut"};
    Result r = cut(args);
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.trimmed(), out);
    QVERIFY(r.err.contains(QStringLiteral("100%")));
    QVERIFY(std::abs(ffprobe(out).duration - 2.0) < 0.1);
    r = cut(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("--yes")));
    r = cut(args + QStringList{"--yes"});
    QCOMPARE(r.status, 0);
    // The input itself is refused whatever --yes says.
    r = cut({m_clip, "--start", "1", "--end", "2", "--copy", "--name", "clip", "--yes"});
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("destroy")));
    QVERIFY(decodesCleanly(m_clip));
}

void TestSniporaCut::interruptLeavesNothing()
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(m_program, {m_clip, "--start", "0", "--end", "8", "--size", "1920x1080", "--video-quality",
                        "high", "--name", "interrupted"});
    QVERIFY(p.waitForStarted());
    // Wait until ffmpeg writes, then interrupt as Ctrl+C would.
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(m_dir.path()).entryList({".interrupted*"}, QDir::Files | QDir::Hidden).isEmpty(), 20000);
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("stopped")));
    QVERIFY(QDir(m_dir.path()).entryList({"*interrupted*"}, QDir::Files | QDir::Hidden).isEmpty());
}

QTEST_MAIN(TestSniporaCut)
#include "tst_sniporacut.moc"
