#include "avlogging.h"
#include "ffmpegencoder.h"
#include "mediafixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaFixtures;

// The real encoder on generated media: every format row makes a file that plays, and no run
// ever leaves a partial file behind.
class TestEncoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyFormatKey_data();
    void everyFormatKey();
    void directCopy();
    void directCopyWithoutExtension();
    void stopMidRunLeavesNothing();
    void stopKeepsExistingOutput();
    void failureReportsFfmpegMessage();
    void killedFromOutsideIsFailure();
    void badInputs_data();
    void badInputs();
    void outputEqualToInputRefused();
    void unusualNames();
    void missingDestinationRefused();
    void fullDestination();
    void stopWhenIdleIsHarmless();

private:
    struct Run
    {
        bool finished = false;
        bool succeeded = false;
        bool failed = false;
        QString message;
        int progressEvents = 0;
        qint64 lastDuration = -1;
    };
    Run runJob(FfmpegEncoder &encoder, const QString &input, const QString &inputOptions,
               const QString &output, const QString &outputOptions, int timeoutMs = 120000);
    QStringList leftovers() const;

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_mp3;
};

void TestEncoder::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    m_clip = makeH264Aac(QDir(m_dir.path()), QStringLiteral("clip.mp4"), 6);
    QVERIFY(!m_clip.isEmpty());
    m_mp3 = makeMp3(QDir(m_dir.path()), 6);
    QVERIFY(!m_mp3.isEmpty());
    QDir().mkpath(m_dir.filePath(QStringLiteral("out")));
}

TestEncoder::Run TestEncoder::runJob(FfmpegEncoder &encoder, const QString &input,
                                     const QString &inputOptions, const QString &output,
                                     const QString &outputOptions, int timeoutMs)
{
    Run run;
    QObject guard;
    connect(&encoder, &Encoder::encoderProgress, &guard, [&run](qint64, qint64, qint64 duration) {
        ++run.progressEvents;
        run.lastDuration = duration;
    });
    connect(&encoder, &Encoder::encoderFinished, &guard,
            [&run](int, bool ok, bool failed, const QString &message) {
                run.finished = true;
                run.succeeded = ok;
                run.failed = failed;
                run.message = message;
            });
    encoder.clearJobs();
    const int in = encoder.addInputFile(input, inputOptions);
    if (in < 0) {
        run.message = encoder.lastErrorText();
        return run;
    }
    if (encoder.addOutputFile(in, output, outputOptions) < 0) {
        run.message = encoder.lastErrorText();
        return run;
    }
    encoder.startEncoding();
    QDeadlineTimer deadline(timeoutMs);
    while (!run.finished && !deadline.hasExpired())
        QTest::qWait(20);
    if (!run.finished)
        run.message = QStringLiteral("timed out");
    return run;
}

QStringList TestEncoder::leftovers() const
{
    return QDir(m_dir.filePath(QStringLiteral("out")))
        .entryList({ QStringLiteral(".*snipora*") }, QDir::Files | QDir::Hidden);
}

void TestEncoder::everyFormatKey_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("container");
    QTest::addColumn<bool>("video");
    QTest::addColumn<QString>("size");

    const QString s = QStringLiteral(" -s 640x360");
    auto row = [&](const char *key, const QString &options, const char *ext, const char *container,
                   bool video, const char *size = "640x360") {
        QTest::newRow(key) << options + QStringLiteral(" -TimeLength 2") << QString::fromLatin1(ext)
                           << QString::fromLatin1(container) << video << QString::fromLatin1(size);
    };
    row("3gp", "-vb 100k -ab 6700 -ac 1 -ar 8000 -s 176x144", "3gp", "mov,mp4", true, "176x144");
    row("avi", "-vcodec libxvid -vb 800k -acodec libmp3lame -ab 128k -ar 44100" + s, "avi", "avi",
        true);
    row("asf", "-vcodec msmpeg4v2 -vb 800k -acodec wmav2 -ab 128k -ar 44100" + s, "asf", "asf",
        true);
    row("wmv", "-vcodec wmv2 -vb 800k -acodec wmav2 -ab 128k -ar 44100" + s, "wmv", "asf", true);
    row("flv", "-vb 800k -ab 64k -ar 44100" + s, "flv", "flv", true);
    row("swf", "-vb 800k -ab 64k -ar 44100" + s, "swf", "swf", true);
    row("mov", "-r 29.97 -vb 800k -ab 256k -ar 44100" + s, "mov", "mov,mp4", true);
    row("mp4", "-r 29.97 -vb 800k -ab 128k -ar 44100" + s, "mp4", "mov,mp4", true);
    row("mpg", "-vb 800k -ab 128k -ar 44100" + s, "mpg", "mpeg", true);
    row("f4v",
        "-vcodec libx264 -vpre libx264-veryfast -f flv -vb 800k -acodec libfaac -ab 128k -ar 44100 "
        "-ac 2"
            + s,
        "f4v", "flv", true);
    row("mkv",
        "-vcodec libx264 -vpre libx264-veryfast -vb 800k  -acodec libmp3lame -ab 128k -ar 44100"
            + s,
        "mkv", "matroska", true);
    row("mp4h264", "-vcodec libx264 -vpre libx264-veryfast -vb 800k -ab 128k -ar 44100" + s, "mp4",
        "mov,mp4", true);
    row("ntsc-vcd", "-target ntsc-vcd -vb 1150k -ab 224k -ar 44100 -s 352x240", "mpg", "mpeg", true,
        "352x240");
    row("pal-vcd", "-target pal-vcd -vb 1150k -ab 224k -ar 44100 -s 352x288", "mpg", "mpeg", true,
        "352x288");
    row("mpg2", "-vcodec mpeg2video -vb 800k -ab 128k -ar 44100" + s, "mpg", "mpeg", true);
    row("ntsc-dvd", "-r 29.97 -target ntsc-dvd -ab 128k -ar 44100 -s 720x480", "mpg", "mpeg", true,
        "720x480");
    row("pal-dvd", "-r 25 -target pal-dvd -ab 128k -ar 44100 -s 720x576", "mpg", "mpeg", true,
        "720x576");
    row("rm", "-vcodec rv20 -vb 800k -ab 128k -ar 44100" + s, "rm", "rm", true);
    row("vob", "-target dvd -vb 3300k -ab 192k -ar 48000 -s 720x480", "vob", "mpeg", true,
        "720x480");
    row("webm", "-vcodec libvpx -vb 800k  -acodec libvorbis -ab 128k -ar 44100" + s, "webm",
        "matroska", true);
    row("aac", "-vn -ab 128k -ar 44100", "aac", "aac", false);
    row("ac3", "-vn -ab 128k -ar 44100", "ac3", "ac3", false);
    row("m4a", "-vn -ab 128k -ar 44100", "m4a", "mov,mp4", false);
    row("mp2", "-vn -ab 128k -ar 44100", "mp2", "mp3", false);
    row("mp3", "-vn -ab 128k -ar 44100", "mp3", "mp3", false);
    row("aiff", "-vn  -ar 44100", "aiff", "aiff", false);
    row("flac", "-vn  -ar 44100", "flac", "flac", false);
    row("wav", "-vn  -ar 44100", "wav", "wav", false);
    row("ogg", "-vn -acodec libvorbis -ab 128k -ar 44100", "ogg", "ogg", false);
    row("ra", "-vn  -ab 128k -ar 44100", "ra", "rm", false);
    row("wma", "-vn  -acodec wmav2 -ab 128k -ar 44100", "wma", "asf", false);
}

void TestEncoder::everyFormatKey()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(QString, container);
    QFETCH(bool, video);
    QFETCH(QString, size);
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output
        = m_dir.filePath(QStringLiteral("out/%1-cut.%2")
                             .arg(QString::fromLatin1(QTest::currentDataTag()), extension));
    const Run run = runJob(encoder, m_clip, QStringLiteral("-TimeStart 1.5"), output, options);
    QVERIFY2(run.succeeded, qPrintable(run.message));
    QVERIFY(!run.failed);
    QVERIFY(run.progressEvents > 0);
    QCOMPARE(run.lastDuration, qint64(2000000));
    QVERIFY(QFile::exists(output));
    QVERIFY(leftovers().isEmpty());

    const ProbeResult probe = ffprobe(output);
    QVERIFY(probe.ok);
    QVERIFY2(probe.formatName.startsWith(container), qPrintable(probe.formatName));
    QVERIFY2(std::abs(probe.duration - 2.0) <= 0.1,
             qPrintable(QStringLiteral("duration %1").arg(probe.duration)));
    QCOMPARE(probe.videoStreams > 0, video);
    QVERIFY(probe.audioStreams > 0);
    if (video)
        QCOMPARE(QStringLiteral("%1x%2").arg(probe.width).arg(probe.height), size);
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
}

void TestEncoder::directCopy()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    // A flip left set from an earlier conversion must not break the copy.
    const QString output = m_dir.filePath(QStringLiteral("out/copy.mp4"));
    const Run run = runJob(encoder, m_clip, QString(), output,
                           QStringLiteral("-vcodec copy -acodec copy -vf \"vflip\" -ss 2 -t 3"));
    QVERIFY2(run.succeeded, qPrintable(run.message));
    const ProbeResult probe = ffprobe(output);
    QCOMPARE(probe.videoCodec, QStringLiteral("h264"));
    QCOMPARE(probe.audioCodec, QStringLiteral("aac"));
    QVERIFY2(std::abs(probe.duration - 3.0) <= 0.2, qPrintable(QString::number(probe.duration)));

    const QString mp3 = m_dir.filePath(QStringLiteral("out/copy.mp3"));
    const Run audio = runJob(encoder, m_mp3, QString(), mp3,
                             QStringLiteral("-vcodec copy -acodec copy -ss 1 -t 2"));
    QVERIFY2(audio.succeeded, qPrintable(audio.message));
    QVERIFY(std::abs(ffprobe(mp3).duration - 2.0) <= 0.1);
}

void TestEncoder::directCopyWithoutExtension()
{
    const QString bare = m_dir.filePath(QStringLiteral("bare"));
    QFile::remove(bare);
    QVERIFY(QFile::copy(m_clip, bare));
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = m_dir.filePath(QStringLiteral("out/bare-cut."));
    const Run run = runJob(encoder, bare, QString(), output,
                           QStringLiteral("-vcodec copy -acodec copy -ss 0 -t 2"));
    QVERIFY2(run.succeeded, qPrintable(run.message));
    QVERIFY(ffprobe(output).formatName.startsWith(QStringLiteral("mov,mp4")));
}

void TestEncoder::stopMidRunLeavesNothing()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = m_dir.filePath(QStringLiteral("out/stopped.mp4"));
    QSignalSpy progress(&encoder, &Encoder::encoderProgress);
    QSignalSpy finished(&encoder, &Encoder::encoderFinished);
    encoder.clearJobs();
    const int in = encoder.addInputFile(m_clip, QString());
    QVERIFY(in >= 0);
    QVERIFY(encoder.addOutputFile(
                in, output, QStringLiteral("-vcodec libx264 -vpre libx264-default -s 1920x1080"))
            >= 0);
    QVERIFY(encoder.startEncoding());
    QTRY_VERIFY_WITH_TIMEOUT(progress.count() > 0 || !encoder.temporaryOutputPath().isEmpty(),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(encoder.temporaryOutputPath()), 20000);
    encoder.stopEncoding();
    QVERIFY(!encoder.isRunning());
    QVERIFY(!QFile::exists(output));
    QVERIFY(leftovers().isEmpty());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(1).toBool(), false); // never reported as success
    QCOMPARE(finished.first().at(2).toBool(), false); // nor as a failure to show
}

void TestEncoder::stopKeepsExistingOutput()
{
    const QString output = m_dir.filePath(QStringLiteral("out/existing.mp4"));
    QFile f(output);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("precious");
    f.close();
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    encoder.clearJobs();
    const int in = encoder.addInputFile(m_clip, QString());
    QVERIFY(encoder.addOutputFile(in, output, QStringLiteral("-vcodec libx264 -s 1920x1080")) >= 0);
    QVERIFY(encoder.startEncoding());
    QTest::qWait(300);
    encoder.stopEncoding();
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("precious"));
    QVERIFY(leftovers().isEmpty());
}

void TestEncoder::failureReportsFfmpegMessage()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = m_dir.filePath(QStringLiteral("out/fail.mp4"));
    const Run run = runJob(encoder, m_clip, QString(), output,
                           QStringLiteral("-vcodec no_such_codec -TimeLength 1"));
    QVERIFY(run.finished);
    QVERIFY(run.failed);
    QVERIFY(!run.succeeded);
    QVERIFY2(run.message.contains(QStringLiteral("no_such_codec")), qPrintable(run.message));
    QCOMPARE(encoder.lastErrorText(), run.message);
    QVERIFY(!QFile::exists(output));
    QVERIFY(leftovers().isEmpty());
}

void TestEncoder::killedFromOutsideIsFailure()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = m_dir.filePath(QStringLiteral("out/killed.mp4"));
    QSignalSpy finished(&encoder, &Encoder::encoderFinished);
    encoder.clearJobs();
    const int in = encoder.addInputFile(m_clip, QString());
    QVERIFY(encoder.addOutputFile(in, output, QStringLiteral("-vcodec libx264 -s 1920x1080")) >= 0);
    QVERIFY(encoder.startEncoding());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(encoder.temporaryOutputPath()), 20000);
    QVERIFY(QProcess::execute(
                QStringLiteral("pkill"),
                { QStringLiteral("-KILL"), QStringLiteral("-f"), encoder.temporaryOutputPath() })
            == 0);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QCOMPARE(finished.first().at(2).toBool(), true);
    QVERIFY(!QFile::exists(output));
    QVERIFY(leftovers().isEmpty());
}

void TestEncoder::badInputs_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << QByteArray() << "File not found";
    QTest::newRow("empty") << QByteArray("") << "empty";
    QTest::newRow("text named .mp4")
        << QByteArray("hello, this is not a video\n") << "Not a media file";
    QTest::newRow("truncated mp4") << QByteArray("truncate") << "Not a media file";
}

void TestEncoder::badInputs()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath(QStringLiteral("bad-%1.mp4").arg(QTest::currentDataTag()));
    if (content == "truncate") {
        QFile src(m_clip);
        QVERIFY(src.open(QIODevice::ReadOnly));
        content = src.read(3000); // the header of a file whose index is at its end
    }
    if (!content.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    QCOMPARE(encoder.addInputFile(path, QString()), -1);
    QVERIFY2(encoder.lastErrorText().contains(expected), qPrintable(encoder.lastErrorText()));
}

void TestEncoder::outputEqualToInputRefused()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QByteArray before = [&] {
        QFile f(m_clip);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const int in = encoder.addInputFile(m_clip, QString());
    QVERIFY(in >= 0);
    // The same file under another spelling of its path.
    const QString other = m_dir.path() + QStringLiteral("/./out/../clip.mp4");
    QCOMPARE(encoder.addOutputFile(in, other, QStringLiteral("-vcodec copy -acodec copy")), -1);
    QVERIFY(encoder.lastErrorText().contains(QStringLiteral("input file itself")));
    QFile f(m_clip);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void TestEncoder::unusualNames()
{
    const QString odd
        = m_dir.filePath(QStringLiteral("-odd 'name' \"q\" \u00e9t\u00e9 \u65e5.mp4"));
    QVERIFY(QFile::copy(m_clip, odd));
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = m_dir.filePath(QStringLiteral("out/-odd \"out\" \u00e9.mp3"));
    const Run run = runJob(encoder, odd, QStringLiteral("-TimeStart 0.5"), output,
                           QStringLiteral("-vn -ab 128k -ar 44100 -TimeLength 1"));
    QVERIFY2(run.succeeded, qPrintable(run.message));
    QVERIFY(QFile::exists(output));
}

void TestEncoder::missingDestinationRefused()
{
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const int in = encoder.addInputFile(m_clip, QString());
    QCOMPARE(encoder.addOutputFile(in, m_dir.filePath(QStringLiteral("nowhere/x.mp4")),
                                   QStringLiteral("-vn")),
             -1);
    QVERIFY(encoder.lastErrorText().contains(QStringLiteral("does not exist")));
    QCOMPARE(encoder.addOutputFile(in, QStringLiteral("/proc/x.mp4"), QStringLiteral("-vn")), -1);
    QVERIFY(encoder.lastErrorText().contains(QStringLiteral("Cannot write")));
}

void TestEncoder::fullDestination()
{
    const QString mountPoint = m_dir.filePath(QStringLiteral("small"));
    QDir().mkpath(mountPoint);
    if (QProcess::execute(QStringLiteral("mount"),
                          { "-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint })
        != 0)
        QSKIP("cannot mount a small tmpfs here (needs root and mount rights)");
    auto unmount
        = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), { mountPoint }); });
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const QString output = mountPoint + QStringLiteral("/full.mkv");
    const Run run = runJob(
        encoder, m_clip, QString(), output,
        QStringLiteral(
            "-vcodec libx264 -vpre libx264-ultrafast -vb 8000k -s 1280x720 -TimeLength 5"));
    QVERIFY(run.failed);
    QVERIFY(!run.message.isEmpty());
    QVERIFY(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestEncoder::stopWhenIdleIsHarmless()
{
    FfmpegEncoder encoder;
    QSignalSpy finished(&encoder, &Encoder::encoderFinished);
    encoder.stopEncoding();
    encoder.clearJobs();
    QCOMPARE(finished.count(), 0);
    QVERIFY(!encoder.startEncoding()); // library not loaded
}

QTEST_GUILESS_MAIN(TestEncoder)
#include "tst_encoder.moc"
