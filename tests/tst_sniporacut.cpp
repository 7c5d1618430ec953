#include "avprobe.h"
#include "formvideoformat.h"
#include "indexedmedia.h"
#include "mediafixtures.h"
#include "recordingmessagesink.h"
#include "sharedvalues.h"
#include "timecode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    void rangeAgainstTheData_data();
    void rangeAgainstTheData();
    void savedNames_data();
    void savedNames();
    void segments_data();
    void segments();
    void chapters_data();
    void chapters();
    void runSavesAndRefusesToOverwrite();
    void neverReplacesWithoutConsent_data();
    void neverReplacesWithoutConsent();
    void stopsLeaveNothing_data();
    void stopsLeaveNothing();
    void killedRunIsCleanedUpByTheNextRun();

private:
    struct Result
    {
        int status = -1;
        QString out;
        QString err;
    };
    Result cut(const QStringList &args, int timeoutMs = 120000);
    // The hidden temporaries of the process in the folder.
    QStringList temporaries(const QString &folder, qint64 pid) const
    {
        return QDir(folder).entryList({ QStringLiteral(".snipora-%1-*").arg(pid) },
                                      QDir::Files | QDir::Hidden);
    }
    // A run long enough to act on while it writes: 4 s of 1080p (about a second at the
    // fastest quality, many at the best).
    QStringList slowJob(const QString &name, const QString &quality = QStringLiteral("high")) const
    {
        return { m_clip,      "--start",         "0",     "--end",  "4", "--size",
                 "1920x1080", "--video-quality", quality, "--name", name };
    }

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
    const QDir dir(m_dir.path());
    QVERIFY(!makeVideoOnly(dir).isEmpty());
    QVERIFY(QFile::copy(m_clip, dir.filePath(QStringLiteral("clip.txt"))));
    QVERIFY(QFile::copy(m_clip, dir.filePath(QStringLiteral("bare"))));
    QFile subtitles(dir.filePath(QStringLiteral("words.srt")));
    QVERIFY(subtitles.open(QIODevice::WriteOnly));
    subtitles.write("1\n00:00:01,000 --> 00:00:02,000\nHello\n");
    subtitles.close();
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.mp4"))).constData(), 0600)
            == 0);
    // Files whose index promises 8 s while their data ends early (an interrupted download).
    const QString indexFirst = dir.filePath(QStringLiteral("indexfirst.mp4"));
    QVERIFY(ffmpeg({ "-i", m_clip, "-c", "copy", "-movflags", "+faststart", indexFirst }));
    QFile whole(indexFirst);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    for (const auto &[name, share] :
         { std::pair { "trunc.mp4", 0.12 }, std::pair { "part.mp4", 0.45 } }) {
        QFile part(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(bytes.left(qsizetype(bytes.size() * share)));
    }
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
    const Result r = cut({ QStringLiteral("--list-formats") });
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 138);
    for (const QString &line : lines)
        QCOMPARE(line.split(QLatin1Char('\t')).size(), 11);
    QCOMPARE(lines.first(),
             QStringLiteral("1186\tID_AAC\tAAC - Advanced Audio Coding Files (*.aac)\t"
                            "General Audio Format\taac\t1\t\t\t\t\t"));
    QVERIFY(
        lines.contains(QStringLiteral("1108\tID_BLACKBERRYPEARLMPEGVIDEO\tBlackBerry Pearl "
                                      "8100/8110/8120/8130 - MPEG4 Video\tDevice/BlackBerry\tmp4"
                                      "\t0\t240\t260\t25\t96k\t2")));
    QVERIFY(lines.last().startsWith(QStringLiteral("1138\t")));
}

void TestSniporaCut::help()
{
    const Result r = cut({ QStringLiteral("--help") });
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QStringLiteral("Usage:")));
    QVERIFY(r.out.contains(QStringLiteral("--print-args")));
}

void TestSniporaCut::sameStringAsTheDialog_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("entry"); // 0: the default entry
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("size"); // "" auto, else "WxH" through the boxes
    QTest::addColumn<int>("videoQuality");
    QTest::addColumn<int>("audioQuality");
    QTest::addColumn<QStringList>("sets");
    QTest::newRow("defaults") << QStringList {} << 0 << false << "" << 1 << 1 << QStringList {};
    QTest::newRow("copy") << QStringList { "--copy" } << 0 << true << "" << 1 << 1
                          << QStringList {};
    QTest::newRow("key-frame copy")
        << QStringList { "--keyframe-copy" } << 0 << true << "" << 1 << 1 << QStringList {};
    QTest::newRow("device by symbol, crop") << QStringList {
        "--format", "ID_BLACKBERRYPEARLMPEGVIDEO", "--set", "Crop Video=True", "--set", "Top=12"
    } << 1108 << false << "" << 1 << 1 << QStringList { "Crop Video=True", "Top=12" };
    QTest::newRow("audio entry by caption, low")
        << QStringList { "--format", "MP3 - MPEG Layer-3 Audio (*.mp3)", "--audio-quality", "low" }
        << 1185 << false << "" << 1 << 2 << QStringList {};
    QTest::newRow("odd size, high video, rm")
        << QStringList { "--format", "1052", "--size", "333x201", "--video-quality", "high" }
        << 1052 << false << "333x201" << 0 << 1 << QStringList {};
    QTest::newRow("settings after quality")
        << QStringList { "--set", "Video Bitrate=900k", "--video-quality", "low",
                         "--set", "Channels=1" }
        << 0 << false << "" << 2 << 1 << QStringList { "Video Bitrate=900k", "Channels=1" };
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

    const Result r = cut(
        QStringList { m_clip, "--start", "00:00:01.5", "--end", "6.5", "--print-args" } + options);
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);

    // The dialog with the same source and the same choices, from a store of its own (OK keeps
    // the choices there for the next start).
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    AvProbe probe;
    QVERIFY(probe.open(m_clip, QString()));
    SharedValues shared;
    shared.InputFilePath = m_clip;
    shared.Job.output.folder = m_dir.path() + QLatin1Char('/');
    shared.SourceWidth = probe.pictureWidth(probe.videoStreamIndex());
    shared.SourceHeight = probe.pictureHeight(probe.videoStreamIndex());
    shared.SourceHasVideo = true;
    shared.SourceBitrateKbps = EstimateSourceBitrateKbps(
        probe.fileSize(), probe.durationMicros() / 100000.0, probe.audioStreamCount());
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
        QVERIFY(m.grid().userEdit(set.section(QLatin1Char('='), 0, 0),
                                  set.section(QLatin1Char('='), 1)));
    m.setFileName(QStringLiteral("dialog-cut"));
    QVERIFY(dialog.ok());
    QVERIFY(started);
    QCOMPARE(lines.at(0), shared.Job.encode.options);
    QCOMPARE(lines.at(1), shared.Job.output.extension);
    QCOMPARE(lines.at(2),
             shared.Job.mode == CutMode::ExactCopy ? QStringLiteral("exact-copy")
                 : shared.Job.isCopy()             ? QStringLiteral("copy")
                                                   : QStringLiteral("convert"));
}

void TestSniporaCut::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList {} << "no input file";
    QTest::newRow("no end") << QStringList { "clip.mp4", "--start", "1" } << "--start and --end";
    QTest::newRow("bad time") << QStringList { "clip.mp4", "--start", "1:2:3", "--end", "5" }
                              << "not a time code";
    QTest::newRow("end before start")
        << QStringList { "clip.mp4", "--start", "5", "--end", "5" } << "must come after";
    QTest::newRow("unknown format")
        << QStringList { "clip.mp4", "--start", "1", "--end", "2", "--format", "ZZZ" }
        << "no format";
    QTest::newRow("unknown setting")
        << QStringList { "clip.mp4", "--start", "1", "--end", "2", "--set", "Colour=red" }
        << "names no advanced setting";
    QTest::newRow("read-only setting")
        << QStringList { "clip.mp4", "--start", "1", "--end", "2", "--set", "Top=5" }
        << "cannot be changed";
    QTest::newRow("bad quality") << QStringList { "clip.mp4", "--start",         "1",   "--end",
                                                  "2",        "--video-quality", "best" }
                                 << "not high, normal or low";
    QTest::newRow("bad size") << QStringList { "clip.mp4", "--start", "1",  "--end",
                                               "2",        "--size",  "big" }
                              << "neither auto nor WxH";
    QTest::newRow("missing file") << QStringList { "gone.mp4", "--start", "1", "--end", "2" }
                                  << "File not found";
    QTest::newRow("not media") << QStringList { "notes.mp4", "--start", "1", "--end", "2" }
                               << "Not a media file";
    QTest::newRow("subtitles only") << QStringList { "words.srt", "--start", "1", "--end", "2" }
                                    << "Can not open file: words.srt (no audio or video stream)\n";
    QTest::newRow("missing folder") << QStringList {
        "clip.mp4", "--start", "1", "--end", "2", "--output-dir", "/nonexistent/x"
    } << "Invalid path!";
    QTest::newRow("unknown option")
        << QStringList { "clip.mp4", "--frobnicate" } << "unknown option";

    // Values the dialog's grid would drop or change are refused, naming the value.
    const QStringList range { "clip.mp4", "--start", "1", "--end", "2" };
    auto set = [&](const char *tag, QStringList settings, const char *message) {
        QStringList args = range;
        for (const QString &s : settings)
            args << QStringLiteral("--set") << s;
        QTest::newRow(tag) << args << QString::fromLatin1(message);
    };
    set("bit rate in words", { "Video Bitrate=abc" },
        "\"abc\" for Video Bitrate is not a bit rate");
    set("bit rate with a blank", { "Video Bitrate=1500 k" },
        "\"1500 k\" for Video Bitrate is not a bit rate");
    set("bit rate of 1e20k", { "Video Bitrate=1e20k" },
        "\"1e20k\" for Video Bitrate is not a bit rate");
    set("absurd bit rate", { "Video Bitrate=100000000000000000000k" }, "is not a usable bit rate");
    set("check box yes", { "Crop Video=Yes" }, "\"Yes\" for Crop Video is not a check box value");
    set("1000 channels", { "Channels=1000" }, "\"1000\" for Channels is not one of its choices");
    set("negative sample rate", { "Sample Rate=-1" },
        "\"-1\" for Sample Rate is not a sample rate");
    set("frame rate 0", { "Frame Rate (FPS)=0" },
        "\"0\" for Frame Rate (FPS) is not a usable frame rate");
    set("negative frame rate", { "Frame Rate (FPS)=-5" }, "is not a usable frame rate");
    set("negative margin", { "Crop Video=True", "Top=-50" }, "\"-50\" for Top is negative");
    set("crop beyond the picture", { "Crop Video=True", "Top=300", "Bottom=100" },
        "crops the picture away");
    set("rotation beyond 270", { "Rotate=300" }, "\"300\" for Rotate is not a rotation");
    set("setting of no use to the format", { "Remove Audio=True", "Sample Rate=8000" },
        "does not apply");
    // Choices a direct copy would drop.
    QTest::newRow("copy with a format")
        << range + QStringList { "--copy", "--format", "ID_MPB" } << "takes no --format";
    QTest::newRow("copy with a size")
        << range + QStringList { "--copy", "--size", "320x240" } << "takes no --size";
    QTest::newRow("copy with a setting")
        << range + QStringList { "--copy", "--set", "Rotate=90" } << "takes no --set";
    // What ffmpeg would refuse after starting.
    QTest::newRow("video-only into an audio format")
        << QStringList { "silent.mp4", "--start", "1", "--end", "2", "--format", "ID_MPB" }
        << "has no audio stream";
    QTest::newRow("copy of a .txt")
        << QStringList { "clip.txt", "--start", "1", "--end", "2", "--copy" }
        << "No file type is known for the extension \"txt\"";
    QTest::newRow("start past the end") << QStringList { "clip.mp4", "--start", "8", "--end", "9" }
                                        << "is at or past the end of clip.mp4";
    QTest::newRow("name too long")
        << range + QStringList { "--name", QString(252, QLatin1Char('n')) } << "name is too long";
    // Input and names.
    QTest::newRow("minutes of 99")
        << QStringList { "clip.mp4", "--start", "00:99:99.9", "--end", "99:00:00.0" }
        << "not a time code";
    QTest::newRow("one-digit fields")
        << QStringList { "clip.mp4", "--start", "0:0:1", "--end", "5" } << "not a time code";
    QTest::newRow("fifo") << QStringList { "fifo.mp4", "--start", "1", "--end", "2" }
                          << "Not a regular file";
    QTest::newRow("device") << QStringList { "/dev/null", "--start", "1", "--end", "2" }
                            << "Not a regular file";
    QTest::newRow("root folder") << range + QStringList { "--output-dir", "/" }
                                 << "/ cannot be the destination folder";
    QTest::newRow("name of removed characters") << range + QStringList { "--name", "*?*" }
                                                << "Invalid file name! (nothing is left of \"*?*\"";
    // Segments.
    const QStringList clip { "clip.mp4" };
    for (const auto &[name, extra, message] : {
             std::tuple { "segments with --start", QStringList { "--keep", "1-2", "--start", "1" },
                          "cannot be mixed" },
             std::tuple { "segment past the end", QStringList { "--keep", "1-2", "--keep", "9-10" },
                          "starts at or past the end of clip.mp4" },
             std::tuple { "not a span", QStringList { "--keep", "5" }, "is not START-END" },
             std::tuple { "span backwards", QStringList { "--remove", "5-3" }, "must come after" },
             std::tuple { "--each alone", QStringList { "--each" } + range.mid(1),
                          "--each needs segments" },
             std::tuple { "nothing left", QStringList { "--remove", "0-8" }, "leaves nothing" },
             std::tuple { "keep and remove", QStringList { "--keep", "1-2", "--remove", "3-4" },
                          "cannot be mixed" },
             std::tuple { "missing list", QStringList { "--segments", "none.csv" }, "cannot read" },
         })
        QTest::newRow(name) << clip + extra << QString::fromLatin1(message);
}

// Several segments saved joined or one file each, by copy and by conversion: the files and
// their lengths.
void TestSniporaCut::segments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<double>>("lengths");
    QTest::newRow("keep two, copy") << QStringList { "--keep", "1-2", "--keep", "4-5.5", "--copy" }
                                    << QStringList { "clip-cut.mp4" } << QList<double> { 2.5 };
    QTest::newRow("remove one, converted")
        << QStringList { "--remove", "2-6" } << QStringList { "clip-cut.mp4" }
        << QList<double> { 4.0 };
    QTest::newRow("each, key-frame copy")
        << QStringList { "--keep", "0-1", "--keep", "4-6", "--each", "--keyframe-copy" }
        << QStringList { "clip-cut-1.mp4", "clip-cut-2.mp4" } << QList<double> { 1.0, 2.0 };
}

void TestSniporaCut::segments()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, files);
    QFETCH(QList<double>, lengths);
    const QString folder = m_dir.filePath(QStringLiteral("segments"));
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    const Result r = cut(QStringList { "clip.mp4", "--output-dir", folder } + args, 120000);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(QDir(folder).entryList(QDir::Files), files);
    for (int i = 0; i < files.size(); ++i) {
        const double length = ffprobe(QDir(folder).filePath(files.at(i))).duration;
        QVERIFY2(qAbs(length - lengths.at(i)) < 0.1,
                 qPrintable(QStringLiteral("%1: %2 s").arg(files.at(i)).arg(length)));
    }
}

// Segments saved joined into Matroska and MP4, by exact copy, key-frame copy and conversion:
// one chapter per segment, starting where the segment's first frame is in the output (within a
// frame), titled with its label (the characters the metadata formats reserve kept) or
// "Segment N".
void TestSniporaCut::chapters_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QStringList>("mode");
    for (const QString &container : { QStringLiteral("mkv"), QStringLiteral("mp4") }) {
        const QString format = container == QLatin1String("mkv") ? QStringLiteral("ID_MKV")
                                                                 : QStringLiteral("ID_MPH");
        for (const auto &[name, mode] :
             { std::pair { "exact copy", QStringList { "--copy" } },
               std::pair { "key-frame copy", QStringList { "--keyframe-copy" } },
               std::pair { "conversion", QStringList { "--format", format } } })
            QTest::addRow("%s, %s", qPrintable(container), name) << container << mode;
    }
}

void TestSniporaCut::chapters()
{
    QFETCH(QString, container);
    QFETCH(QStringList, mode);
    const QDir dir(m_dir.path());
    const QString source = QStringLiteral("indexed.") + container;
    if (!QFileInfo::exists(dir.filePath(source)))
        QVERIFY(!IndexedMedia::make(dir, source).isEmpty());
    QFile csv(dir.filePath(QStringLiteral("chapters.csv")));
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("start,end,label\n1.3,2.1,Intro\n4.5,5.02,\n6.6,8.9,\"Act 1; scene=2, \\ end\"\n");
    csv.close();
    const QString folder = m_dir.filePath(QStringLiteral("chapters"));
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(folder));
    const Result r = cut(QStringList { source, "--segments", csv.fileName(), "--output-dir", folder,
                                       "--name", "joined" }
                         + mode);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QString output = r.out.trimmed();
    QVERIFY2(output.endsWith(QLatin1Char('.') + container), qPrintable(output));
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));

    // The segments' starts in the output: where the frame indexes stop running on.
    const QList<int> indexes = IndexedMedia::frameIndexes(output);
    QByteArray times;
    run(QStringLiteral("ffprobe"),
        { "-v", "error", "-select_streams", "v:0", "-show_entries",
          "frame=best_effort_timestamp_time", "-of", "csv=p=0", output },
        &times);
    QList<double> pts;
    for (const QByteArray &line : times.split('\n')) {
        if (!line.trimmed().isEmpty()) // the chapters' lines are empty
            pts << line.split(',').first().toDouble();
    }
    QCOMPARE(pts.size(), indexes.size());
    QList<double> starts;
    for (qsizetype i = 0; i < indexes.size(); ++i) {
        if (i == 0 || indexes.at(i) != indexes.at(i - 1) + 1)
            starts << pts.at(i);
    }
    QCOMPARE(starts.size(), 3);

    QByteArray chapters;
    run(QStringLiteral("ffprobe"),
        { "-v", "error", "-print_format", "json", "-show_chapters", output }, &chapters);
    const QJsonArray list
        = QJsonDocument::fromJson(chapters).object().value(QStringLiteral("chapters")).toArray();
    const QStringList titles { "Intro", "Segment 2", "Act 1; scene=2, \\ end" };
    QCOMPARE(list.size(), titles.size());
    for (qsizetype k = 0; k < list.size(); ++k) {
        const QJsonObject c = list.at(k).toObject();
        const double start = c.value(QStringLiteral("start_time")).toString().toDouble();
        QVERIFY2(qAbs(start - starts.at(k)) <= 1.0 / IndexedMedia::kRate + 1e-3,
                 qPrintable(QStringLiteral("chapter %1 at %2 s, its segment at %3 s")
                                .arg(k + 1)
                                .arg(start)
                                .arg(starts.at(k))));
        QCOMPARE(
            c.value(QStringLiteral("tags")).toObject().value(QStringLiteral("title")).toString(),
            titles.at(k));
    }
}

void TestSniporaCut::badUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFile notes(m_dir.filePath(QStringLiteral("notes.mp4")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a film");
    notes.close();
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const QStringList before = QDir(m_dir.path()).entryList(all);
    const Result r = cut(args);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1); // one line
    QVERIFY(r.out.isEmpty());
    QCOMPARE(QDir(m_dir.path()).entryList(all), before); // nothing written
}

void TestSniporaCut::rangeAgainstTheData_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("status");
    QTest::addColumn<double>("length"); // of the saved file
    QTest::newRow("data ends before the range") << "trunc.mp4"
                                                << "5"
                                                << "8" << 1 << 0.0;
    QTest::newRow("data ends inside the range") << "part.mp4"
                                                << "2"
                                                << "7.5" << 1 << 0.0;
    QTest::newRow("end of 20 digits") << "clip.mp4"
                                      << "6" << QString(20, QLatin1Char('9')) << 0 << 2.0;
    QTest::newRow("end of 400 digits") << "clip.mp4"
                                       << "6" << QString(400, QLatin1Char('9')) << 0 << 2.0;
}

void TestSniporaCut::rangeAgainstTheData()
{
    QFETCH(QString, input);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(int, status);
    QFETCH(double, length);
    const QString name = QStringLiteral("range-%1")
                             .arg(QTest::currentDataTag())
                             .replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString output = m_dir.filePath(name + QStringLiteral(".mp3"));
    const Result r
        = cut({ input, "--start", start, "--end", end, "--format", "ID_MPB", "--name", name });
    QVERIFY2(r.status == status, qPrintable(r.err));
    if (status == 0) { // cut to the end of the input, and said so once
        QCOMPARE(r.err.count(QStringLiteral("the cut stops at its end")), 1);
        QVERIFY2(std::abs(ffprobe(output).duration - length) < 0.1,
                 qPrintable(QString::number(ffprobe(output).duration)));
    } else { // a file that does not hold the range is no success
        QVERIFY(!QFileInfo::exists(output));
        QVERIFY(r.out.isEmpty());
    }
    QVERIFY(QDir(m_dir.path())
                .entryList({ QStringLiteral(".snipora-*") }, QDir::Files | QDir::Hidden)
                .isEmpty());
}

void TestSniporaCut::savedNames_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("saved");
    const QStringList mp3 {
        "clip.mp4", "--start", "1", "--end", "2", "--format", "ID_MPB", "--name"
    };
    for (const int bytes : { 234, 251 }) { // the temporary name must fit wherever the name fits
        const QString name(bytes, QLatin1Char('n'));
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(bytes)))
            << mp3 + QStringList { name } << name + ".mp3";
    }
    QTest::newRow("line break") << mp3 + QStringList { "line\nbreak" } << "linebreak.mp3";
    QTest::newRow("input without extension")
        << QStringList { "bare", "--start", "1", "--end", "2", "--copy" } << "bare-cut";
    QTest::newRow("direct copy") << QStringList { "clip.mp4", "--start", "1.5",    "--end",
                                                  "7",        "--copy",  "--name", "copied" }
                                 << "copied.mp4";
}

void TestSniporaCut::savedNames()
{
    QFETCH(QStringList, args);
    QFETCH(QString, saved);
    const QString output = m_dir.filePath(saved);
    QFile::remove(output);
    const Result r = cut(args);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(r.out, output + QLatin1Char('\n'));
    QVERIFY(ffprobe(output).ok);
    if (args.contains(QStringLiteral("--copy"))) { // the last size shown is what was written
        const QString last = r.err.trimmed().section(QLatin1Char('\n'), -1);
        QVERIFY2(
            last.endsWith(
                QStringLiteral(" size %1 MB").arg(QFileInfo(output).size() / 1048576.0, 0, 'f', 1)),
            qPrintable(r.err));
    }
    QVERIFY(QDir(m_dir.path())
                .entryList({ QStringLiteral(".snipora-*") }, QDir::Files | QDir::Hidden)
                .isEmpty());
    QFile::remove(output);
}

void TestSniporaCut::runSavesAndRefusesToOverwrite()
{
    const QString out = m_dir.filePath(QStringLiteral("run-cut.mp3"));
    const QStringList args { m_clip,     "--start", "1",      "--end",  "3",
                             "--format", "ID_MPB",  "--name", "run-cut" };
    Result r = cut(args);
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.trimmed(), out);
    QVERIFY(r.err.contains(QStringLiteral("100%")));
    QVERIFY(std::abs(ffprobe(out).duration - 2.0) < 0.1);
    r = cut(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("--yes")));
    r = cut(args + QStringList { "--yes" });
    QCOMPARE(r.status, 0);
    // The input itself is refused whatever --yes says.
    r = cut({ m_clip, "--start", "1", "--end", "2", "--copy", "--name", "clip", "--yes" });
    QCOMPARE(r.status, 2);
    QVERIFY(r.err.contains(QStringLiteral("destroy")));
    QVERIFY(decodesCleanly(m_clip));
}

void TestSniporaCut::neverReplacesWithoutConsent_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("without --yes") << false;
    QTest::newRow("with --yes") << true;
}

void TestSniporaCut::neverReplacesWithoutConsent()
{
    QFETCH(bool, yes);
    // Another program saves a file of the same name while the cut is being made.
    const QString name = yes ? QStringLiteral("race-yes") : QStringLiteral("race-no");
    const QString target = m_dir.filePath(name + QStringLiteral(".mp4"));
    const QString beside = m_dir.filePath(name + QStringLiteral("-2.mp4"));
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(m_program,
            slowJob(name, QStringLiteral("low"))
                + (yes ? QStringList { "--yes" } : QStringList {}));
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!temporaries(m_dir.path(), p.processId()).isEmpty(), 20000);
    QFile other(target);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("made meanwhile");
    other.close();
    QVERIFY(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (yes) { // agreed: replaced as asked
        QVERIFY2(p.exitCode() == 0, qPrintable(err));
        QCOMPARE(ffprobe(target).videoStreams, 1);
        QVERIFY(!QFileInfo::exists(beside));
    } else { // a clear failure that keeps both files
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("was left as it is")), qPrintable(err));
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("made meanwhile"));
        QCOMPARE(ffprobe(beside).videoStreams, 1);
    }
    QVERIFY(temporaries(m_dir.path(), p.processId()).isEmpty());
}

void TestSniporaCut::stopsLeaveNothing_data()
{
    QTest::addColumn<int>("signal"); // sent once the temporary exists; 0: none
    QTest::addColumn<int>("closed"); // the output channel whose reader goes away; -1: none
    QTest::addColumn<int>("status");
    QTest::newRow("SIGINT") << int(SIGINT) << -1 << 1;
    QTest::newRow("SIGTERM") << int(SIGTERM) << -1 << 1;
    QTest::newRow("SIGHUP") << int(SIGHUP) << -1 << 1;
    QTest::newRow("stderr closed") << 0 << int(QProcess::StandardError) << 1;
    QTest::newRow("stdout closed after success") << 0 << int(QProcess::StandardOutput) << 0;
}

void TestSniporaCut::stopsLeaveNothing()
{
    QFETCH(int, signal);
    QFETCH(int, closed);
    QFETCH(int, status);
    const QString name = QStringLiteral("stop%1-%2").arg(signal).arg(closed);
    const bool quick = status == 0;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    // The channel goes to a pipe of ours, whose reading end we close as a "| head" would.
    int pipe[2] = { -1, -1 };
    if (closed >= 0) {
        QVERIFY(::pipe2(pipe, O_CLOEXEC) == 0);
        const int target = closed == QProcess::StandardOutput ? STDOUT_FILENO : STDERR_FILENO;
        p.setChildProcessModifier([writer = pipe[1], target] { ::dup2(writer, target); });
    }
    p.start(m_program,
            quick ? QStringList { m_clip, "--start", "1", "--end", "2", "--format", "ID_MPB",
                                  "--name", name }
                  : slowJob(name));
    QVERIFY(p.waitForStarted());
    if (closed >= 0)
        ::close(pipe[1]);
    if (!quick) // wait until ffmpeg writes
        QTRY_VERIFY_WITH_TIMEOUT(!temporaries(m_dir.path(), p.processId()).isEmpty(), 20000);
    if (closed >= 0)
        ::close(pipe[0]);
    if (signal)
        ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    QVERIFY(temporaries(m_dir.path(), p.processId()).isEmpty());
    const QStringList saved
        = QDir(m_dir.path()).entryList({ name + QStringLiteral(".*") }, QDir::Files);
    QCOMPARE(saved.size(), quick ? 1 : 0);
}

void TestSniporaCut::killedRunIsCleanedUpByTheNextRun()
{
    const QString folder = m_dir.filePath(QStringLiteral("killed"));
    QVERIFY(QDir().mkpath(folder));
    // A temporary whose owner runs (PID 1 always does) is left alone.
    const QString alive = folder + QStringLiteral("/.snipora-1-0badf00d.mp4");
    QFile live(alive);
    QVERIFY(live.open(QIODevice::WriteOnly));
    live.close();
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(m_program, slowJob(QStringLiteral("killed")) + QStringList { "--output-dir", folder });
    QVERIFY(p.waitForStarted());
    const qint64 pid = p.processId();
    QTRY_VERIFY_WITH_TIMEOUT(!temporaries(folder, pid).isEmpty(), 20000);
    ::kill(pid_t(pid), SIGKILL); // nothing can clean up after this
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(temporaries(folder, pid).size(), 1);
    const Result r = cut({ m_clip, "--start", "1", "--end", "2", "--format", "ID_MPB", "--name",
                           "next", "--output-dir", folder });
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QVERIFY(temporaries(folder, pid).isEmpty());
    QVERIFY(QFileInfo::exists(alive));
}

QTEST_MAIN(TestSniporaCut)
#include "tst_sniporacut.moc"
