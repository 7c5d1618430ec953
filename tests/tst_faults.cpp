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

#include <fcntl.h>
#include <unistd.h>

#include <tuple>

using namespace MediaFixtures;

// Faults during a run with the real encoder. Each must end in a clear message (or a quiet
// stop), lose nothing, leave no partial file, and leave the encoder usable for the next cut.
class TestFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void stopAtSeveralPoints_data();
    void stopAtSeveralPoints();
    void killedFromOutside();
    void destinationGoneMidRun_data();
    void destinationGoneMidRun();
    void destinationReadOnly();
    void failureMessages_data();
    void failureMessages();
    void sourceDisappearsAfterOpening();
    void destroyingTheEncoderEndsFfmpeg();

private:
    struct Outcome
    {
        bool finished = false;
        bool succeeded = false;
        bool failed = false;
        QString message;
    };
    // Starts a slow job (a 1080p H.264 encode) into the folder.
    bool startSlowJob(FfmpegEncoder &encoder, const QString &output);
    // Starts an exact direct copy of a long-GOP source (run in-process on a worker thread).
    bool startExactCopy(FfmpegEncoder &encoder, const QString &source, const QString &output,
                        double start, double end);
    Outcome wait(FfmpegEncoder &encoder, int timeoutMs = 60000);
    // Records the encoder's finished event into m_last (once per encoder).
    void watch(FfmpegEncoder &encoder);
    // A quick job that must succeed: the encoder is still usable.
    void nextCutWorks(FfmpegEncoder &encoder);
    QStringList partials(const QString &folder) const
    {
        return QDir(folder).entryList({ QStringLiteral(".*snipora*") }, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_longGop; // one key frame in 20 s: what an exact copy re-encodes is long
    QString m_longGopHevc; // the same in HEVC
    Outcome m_last;
    QList<FfmpegEncoder *> m_watched;
};

void TestFaults::initTestCase()
{
    QuietLibavLogging();
    m_clip = makeH264Aac(QDir(m_dir.path()), QStringLiteral("source.mp4"), 8);
    QVERIFY(!m_clip.isEmpty());
    m_longGop = m_dir.filePath(QStringLiteral("longgop.mkv"));
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", "testsrc2=size=960x540:rate=25:duration=20", "-f",
                     "lavfi", "-i", "sine=duration=20", "-c:v", "libx264", "-preset", "veryfast",
                     "-bf", "2", "-g", "500", "-c:a", "aac", m_longGop }));
    m_longGopHevc = m_dir.filePath(QStringLiteral("longgop-hevc.mkv"));
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=12", "-c:v",
                     "libx265", "-preset", "ultrafast", "-x265-params",
                     "log-level=error:keyint=500", m_longGopHevc }));
    // Sources that valid recordings can be and that a save cannot take as they are: a second
    // recording appended to a first (timestamps start again), a size change in the middle, HEVC
    // declaring a level below its picture's, and a file of subtitles only.
    const QDir dir(m_dir.path());
    const QString a = dir.filePath(QStringLiteral("a.ts"));
    const QString b = dir.filePath(QStringLiteral("b.ts"));
    for (const auto &[path, size, offset] :
         { std::tuple { a, "640x360", "0" }, std::tuple { b, "480x270", "3" } })
        QVERIFY(ffmpeg(
            { "-f", "lavfi", "-i",
              QStringLiteral("testsrc2=size=%1:rate=25:duration=3").arg(QLatin1String(size)),
              "-c:v", "libx264", "-bf", "2", "-output_ts_offset", QLatin1String(offset), path }));
    QFile first(a), second(b), again(dir.filePath(QStringLiteral("again.ts")));
    QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly)
            && again.open(QIODevice::WriteOnly));
    const QByteArray once = first.readAll();
    again.write(once + once);
    again.close();
    QFile list(dir.filePath(QStringLiteral("list.txt")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write(QStringLiteral("file '%1'\nfile '%2'\n").arg(a, b).toUtf8());
    list.close();
    QVERIFY(ffmpeg({ "-f", "concat", "-safe", "0", "-i", list.fileName(), "-c", "copy",
                     dir.filePath(QStringLiteral("resized.mp4")) }));
    QFile subtitles(dir.filePath(QStringLiteral("words.srt")));
    QVERIFY(subtitles.open(QIODevice::WriteOnly));
    subtitles.write("1\n00:00:01,000 --> 00:00:02,000\nHello\n");
}

// The number of threads of this process.
static int threadCount()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    return int(tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

void TestFaults::watch(FfmpegEncoder &encoder)
{
    m_last = Outcome();
    if (m_watched.contains(&encoder))
        return;
    m_watched << &encoder;
    connect(&encoder, &Encoder::encoderFinished, this,
            [this](int, bool ok, bool failed, const QString &m) {
                m_last.finished = true;
                m_last.succeeded = ok;
                m_last.failed = failed;
                m_last.message = m;
            });
    connect(&encoder, &QObject::destroyed, this, [this, e = &encoder] { m_watched.removeAll(e); });
}

bool TestFaults::startSlowJob(FfmpegEncoder &encoder, const QString &output)
{
    watch(encoder);
    encoder.clearJobs();
    const int input = encoder.addInputFile(m_clip, QStringLiteral("-TimeStart 0"));
    if (input < 0
        || encoder.addOutputFile(
               input, output,
               QStringLiteral("-vcodec libx264 -vpre libx264-default -s 1920x1080 -TimeLength 8"))
            < 0)
        return false;
    return encoder.startEncoding();
}

bool TestFaults::startExactCopy(FfmpegEncoder &encoder, const QString &source,
                                const QString &output, double start, double end)
{
    watch(encoder);
    encoder.clearJobs();
    encoder.setExactCopy(true);
    const int input = encoder.addInputFile(source, QString());
    if (input < 0
        || encoder.addOutputFile(
               input, output,
               QStringLiteral("-vcodec copy -acodec copy -ss %1 -t %2").arg(start).arg(end - start))
            < 0)
        return false;
    return encoder.startEncoding();
}

TestFaults::Outcome TestFaults::wait(FfmpegEncoder &, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_last.finished && !deadline.hasExpired())
        QTest::qWait(20);
    return m_last;
}

void TestFaults::nextCutWorks(FfmpegEncoder &encoder)
{
    const QString output = m_dir.filePath(QStringLiteral("next.mp3"));
    QFile::remove(output);
    watch(encoder);
    encoder.clearJobs();
    const int input = encoder.addInputFile(m_clip, QStringLiteral("-TimeStart 1"));
    QVERIFY(input >= 0);
    QVERIFY(
        encoder.addOutputFile(input, output, QStringLiteral("-vn -ab 128k -ar 44100 -TimeLength 1"))
        >= 0);
    QVERIFY(encoder.startEncoding());
    const Outcome o = wait(encoder);
    QVERIFY2(o.succeeded, qPrintable(o.message));
    QVERIFY(QFile::exists(output));
}

void TestFaults::stopAtSeveralPoints_data()
{
    QTest::addColumn<bool>("exact"); // an exact direct copy, else the slow ffmpeg job
    QTest::addColumn<bool>("hevc"); // of the HEVC source
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<int>("percent"); // stop at the first progress this far; -1 at once
    QTest::newRow("at once") << false << false << 0.0 << 8.0 << -1;
    QTest::newRow("first progress") << false << false << 0.0 << 8.0 << 0;
    QTest::newRow("well under way") << false << false << 0.0 << 8.0 << 40;
    // The exact copy reports its index pass below 10 %, then counts each re-encoded frame as
    // its picture's bytes: from 0.2 s every frame is re-encoded (no key frame follows); from
    // 0 s to 19.95 s the packets are copied while a decoder follows them from the key frame
    // for the last frame, a B-frame that refers to one after the end and is re-encoded.
    QTest::newRow("exact copy, before it starts") << true << false << 0.2 << 11.9 << -1;
    QTest::newRow("exact copy, index pass") << true << false << 0.2 << 11.9 << 0;
    QTest::newRow("exact copy, head being encoded") << true << false << 0.2 << 11.9 << 30;
    QTest::newRow("exact copy, copying") << true << false << 0.0 << 19.95 << 10;
    // An encoder left with frames inside it frees them (the leak check of make test-sanitize).
    QTest::newRow("exact copy, HEVC head being encoded") << true << true << 0.2 << 11.9 << 30;
}

void TestFaults::stopAtSeveralPoints()
{
    QFETCH(bool, exact);
    QFETCH(bool, hevc);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(int, percent);
    const QString folder = m_dir.filePath(QStringLiteral("stop-%1").arg(QTest::currentDataTag()));
    QDir().mkpath(folder);
    const QString output
        = folder + (exact ? QStringLiteral("/cut.mkv") : QStringLiteral("/cut.mp4"));
    QFile existing(output);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("an earlier cut");
    existing.close();

    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    bool reached = false;
    connect(&encoder, &Encoder::encoderProgress, this,
            [&](qint64, qint64 position, qint64 duration) {
                reached = reached
                    || (duration > 0 && position >= 0 && position * 100 >= percent * duration);
            });
    const int threads = threadCount();
    QVERIFY(exact ? startExactCopy(encoder, hevc ? m_longGopHevc : m_longGop, output, start, end)
                  : startSlowJob(encoder, output));
    if (percent >= 0)
        QTRY_VERIFY_WITH_TIMEOUT(reached || m_last.finished, 60000);
    QVERIFY2(!m_last.finished, "the run ended before the point to stop it at");
    encoder.stopEncoding();
    QVERIFY(!encoder.isRunning());
    if (exact)
        QCOMPARE(threadCount(), threads); // the worker and the codecs' threads are gone
    QVERIFY(m_last.finished);
    QVERIFY(!m_last.succeeded);
    QVERIFY(!m_last.failed); // a stop is not an error to report
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("an earlier cut"));
    existing.close();
    QVERIFY(partials(folder).isEmpty());
    nextCutWorks(encoder);
}

void TestFaults::killedFromOutside()
{
    const QString folder = m_dir.filePath(QStringLiteral("killed"));
    QDir().mkpath(folder);
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    QVERIFY(startSlowJob(encoder, folder + QStringLiteral("/cut.mp4")));
    QTRY_VERIFY_WITH_TIMEOUT(!partials(folder).isEmpty(), 20000);
    QCOMPARE(QProcess::execute(QStringLiteral("pkill"),
                               { "-KILL", "-f", folder + QStringLiteral("/.snipora-") }),
             0);
    const Outcome o = wait(encoder);
    QVERIFY(o.failed);
    QVERIFY2(o.message.contains(QStringLiteral("ended unexpectedly")), qPrintable(o.message));
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    nextCutWorks(encoder);
}

void TestFaults::destinationGoneMidRun_data()
{
    QTest::addColumn<bool>("moved"); // else removed
    QTest::newRow("removed") << false;
    QTest::newRow("moved") << true;
}

void TestFaults::destinationGoneMidRun()
{
    QFETCH(bool, moved);
    const QString folder = m_dir.filePath(QStringLiteral("gone-%1").arg(QTest::currentDataTag()));
    const QString movedTo = folder + QStringLiteral("-elsewhere");
    QDir().mkpath(folder);
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    QVERIFY(startSlowJob(encoder, folder + QStringLiteral("/cut.mp4")));
    QTRY_VERIFY_WITH_TIMEOUT(!partials(folder).isEmpty(), 20000);
    QVERIFY(moved ? QDir().rename(folder, movedTo) : QDir(folder).removeRecursively());
    const Outcome o = wait(encoder, 120000);
    QVERIFY(o.finished);
    QVERIFY(o.failed);
    QVERIFY2(o.message.contains(QStringLiteral("was moved or removed")), qPrintable(o.message));
    QVERIFY(!QFileInfo::exists(folder));
    if (moved) // the folder keeps nothing of the run, complete or not
        QVERIFY(QDir(movedTo).entryList(QDir::Files | QDir::Hidden).isEmpty());
    nextCutWorks(encoder);
}

void TestFaults::destinationReadOnly()
{
    // A read-only mount: refused before anything runs.
    const QString mount = m_dir.filePath(QStringLiteral("ro"));
    QDir().mkpath(mount);
    if (QProcess::execute(QStringLiteral("mount"),
                          { "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", mount })
        != 0) {
        if (::geteuid() == 0)
            QSKIP("cannot mount a tmpfs here");
        // Without root a folder without write permission does as well.
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::ExeOwner));
    }
    auto cleanup = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("umount"), { mount });
        QFile::setPermissions(mount, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const int input = encoder.addInputFile(m_clip, QString());
    QCOMPARE(
        encoder.addOutputFile(input, mount + QStringLiteral("/cut.mp4"), QStringLiteral("-vn")),
        -1);
    QVERIFY2(encoder.lastErrorText().contains(QStringLiteral("Cannot write")),
             qPrintable(encoder.lastErrorText()));
    nextCutWorks(encoder);
}

// What a failed save tells the user: one sentence that names the file asked for (never the
// hidden temporary one) or the source at fault, with at most ffmpeg's line about the fault
// below it; no log prefixes, no encoder's own lines on the program's error output.
void TestFaults::failureMessages_data()
{
    QTest::addColumn<QString>("input"); // a file of the fixtures
    QTest::addColumn<QString>("options"); // the job's output options; "copy S E": exact copy
    QTest::addColumn<QString>("fault"); // "": none beyond the source; "full disk"; "removed"
    QTest::addColumn<QString>("names"); // "output" or "input": the file the message names
    QTest::addColumn<QString>("says");
    QTest::newRow("the encoder refuses a setting")
        << "source.mp4"
        << "-vcodec libx264 -vpre libx264-default -vb 1 -TimeLength 2"
        << ""
        << "output"
        << "refused the chosen settings";
    QTest::newRow("a full disk")
        << "source.mp4"
        << "-vcodec libx264 -vpre libx264-default -s 1920x1080 -TimeLength 8"
        << "full disk"
        << "output"
        << "not enough space on the disk";
    QTest::newRow("a full disk, direct copy") << "longgop.mkv"
                                              << "copy 0 19"
                                              << "full disk"
                                              << "output"
                                              << "not enough space on the disk";
    QTest::newRow("the source removed before the run") << "vanishing.mp4"
                                                       << "-vn -ab 128k -TimeLength 2"
                                                       << "removed"
                                                       << "input"
                                                       << "could not be read";
    QTest::newRow("timestamps that start again") << "again.ts"
                                                 << "copy 0 5.9"
                                                 << ""
                                                 << "output"
                                                 << "timestamps";
    QTest::newRow("a picture size change") << "resized.mp4"
                                           << "copy 1.3 5"
                                           << ""
                                           << "output"
                                           << "picture size";
    QTest::newRow("no audio or video stream") << "words.srt"
                                              << "-vn"
                                              << ""
                                              << "none"
                                              << "No audio or video stream.";
}

void TestFaults::failureMessages()
{
    QFETCH(QString, input);
    QFETCH(QString, options);
    QFETCH(QString, fault);
    QFETCH(QString, names);
    QFETCH(QString, says);
    const QString folder = m_dir.filePath(QStringLiteral("msg-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    const bool full = fault == QLatin1String("full disk");
    if (full
        && QProcess::execute(QStringLiteral("mount"),
                             { "-t", "tmpfs", "-o", "size=256k", "tmpfs", folder })
            != 0)
        QSKIP("cannot mount a small tmpfs here (needs root)");
    auto cleanup = qScopeGuard([&] {
        if (full)
            QProcess::execute(QStringLiteral("umount"), { folder });
    });
    QString source = m_dir.filePath(input);
    if (fault == QLatin1String("removed"))
        QVERIFY(QFile::copy(m_clip, source));
    const bool copy = options.startsWith(QLatin1String("copy "));
    const QString output = folder + QStringLiteral("/cut.") + QFileInfo(input).suffix();

    // The program's error output while the job runs: an encoder must not write to it.
    fflush(stderr);
    int pipe[2];
    QVERIFY(::pipe(pipe) == 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(pipe[1], STDERR_FILENO);
    ::close(pipe[1]);
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    watch(encoder);
    encoder.setExactCopy(true);
    const int in = encoder.addInputFile(source, copy ? QString() : QStringLiteral("-TimeStart 0"));
    QString message = encoder.lastErrorText();
    if (in >= 0) {
        const QStringList range = options.split(QLatin1Char(' '));
        const QString args = copy ? QStringLiteral("-vcodec copy -acodec copy -ss %1 -t %2")
                                        .arg(range.at(1))
                                        .arg(range.at(2).toDouble() - range.at(1).toDouble())
                                  : options;
        QVERIFY2(encoder.addOutputFile(in, output, args) >= 0, qPrintable(encoder.lastErrorText()));
        if (fault == QLatin1String("removed"))
            QVERIFY(QFile::remove(source));
        QVERIFY(encoder.startEncoding());
        const Outcome o = wait(encoder, 120000);
        QVERIFY(o.failed);
        message = o.message;
    }
    fflush(stderr);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    QByteArray written(65536, 0);
    ::fcntl(pipe[0], F_SETFL, O_NONBLOCK);
    const ssize_t n = ::read(pipe[0], written.data(), written.size());
    ::close(pipe[0]);
    written.truncate(std::max<ssize_t>(0, n));

    QVERIFY2(message.contains(says), qPrintable(message));
    const QStringList lines = message.split(QLatin1Char('\n'));
    QVERIFY2(lines.size() == 1
                 || (lines.size() == 2 && lines.at(1).startsWith(QLatin1String("Details: "))),
             qPrintable(message));
    QVERIFY2(lines.first().endsWith(QLatin1Char('.'))
                 && !lines.first().contains(QLatin1String(". ")),
             qPrintable(message));
    for (const char *noise : { ".snipora-", "@ 0x", "[error]", "Invalid argument" })
        QVERIFY2(!message.contains(QLatin1String(noise)), qPrintable(message));
    if (names == QLatin1String("output"))
        QVERIFY2(message.contains(output), qPrintable(message));
    else if (names == QLatin1String("input"))
        QVERIFY2(message.contains(source), qPrintable(message));
    else
        QVERIFY2(!message.contains(source), qPrintable(message)); // the caller names the file
    QVERIFY2(written.isEmpty(), written.constData());
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    nextCutWorks(encoder);
}

void TestFaults::sourceDisappearsAfterOpening()
{
    const QString source = m_dir.filePath(QStringLiteral("vanishing.mp4"));
    QVERIFY(QFile::copy(m_clip, source));
    const QString output = m_dir.filePath(QStringLiteral("vanished-cut.mp4"));
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    watch(encoder);
    const int input = encoder.addInputFile(source, QStringLiteral("-TimeStart 1"));
    QVERIFY(input >= 0);
    QVERIFY(encoder.addOutputFile(input, output, QStringLiteral("-vcodec copy -acodec copy -t 2"))
            >= 0);
    QVERIFY(QFile::remove(source)); // gone between the Open and the OK
    QVERIFY(encoder.startEncoding());
    const Outcome o = wait(encoder);
    QVERIFY(o.failed);
    QVERIFY2(o.message.contains(QStringLiteral("vanishing.mp4"))
                 || o.message.contains(QStringLiteral("No such file")),
             qPrintable(o.message));
    QVERIFY(!QFileInfo::exists(output));
    QVERIFY(partials(m_dir.path()).isEmpty());
    nextCutWorks(encoder);
}

void TestFaults::destroyingTheEncoderEndsFfmpeg()
{
    const QString folder = m_dir.filePath(QStringLiteral("destroyed"));
    QDir().mkpath(folder);
    {
        FfmpegEncoder encoder;
        QVERIFY(encoder.loadLibrary(QString()));
        QVERIFY(startSlowJob(encoder, folder + QStringLiteral("/cut.mp4")));
        QTRY_VERIFY_WITH_TIMEOUT(!partials(folder).isEmpty(), 20000);
    }
    QCOMPARE(
        QProcess::execute(QStringLiteral("pgrep"), { "-f", folder + QStringLiteral("/.snipora-") }),
        1); // none left
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
