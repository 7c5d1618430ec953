#include "ffmpegencoder.h"
#include "mediafixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

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
    void destinationFull();
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
    Outcome wait(FfmpegEncoder &encoder, int timeoutMs = 60000);
    // Records the encoder's finished event into m_last (once per encoder).
    void watch(FfmpegEncoder &encoder);
    // A quick job that must succeed: the encoder is still usable.
    void nextCutWorks(FfmpegEncoder &encoder);
    QStringList partials(const QString &folder) const
    {
        return QDir(folder).entryList({QStringLiteral(".*snipora*")}, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir m_dir;
    QString m_clip;
    Outcome m_last;
    QList<FfmpegEncoder *> m_watched;
};

void TestFaults::initTestCase()
{
    m_clip = makeH264Aac(QDir(m_dir.path()), QStringLiteral("source.mp4"), 8);
    QVERIFY(!m_clip.isEmpty());
}

void TestFaults::watch(FfmpegEncoder &encoder)
{
    m_last = Outcome();
    if (m_watched.contains(&encoder))
        return;
    m_watched << &encoder;
    connect(&encoder, &Encoder::encoderFinished, this, [this](int, bool ok, bool failed, const QString &m) {
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
    if (input < 0 || encoder.addOutputFile(input, output,
                                           QStringLiteral("-vcodec libx264 -vpre libx264-default -s 1920x1080 -TimeLength 8")) < 0)
        return false;
    return encoder.startEncoding(1);
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
    QVERIFY(encoder.addOutputFile(input, output, QStringLiteral("-vn -ab 128k -ar 44100 -TimeLength 1")) >= 0);
    QVERIFY(encoder.startEncoding(1));
    const Outcome o = wait(encoder);
    QVERIFY2(o.succeeded, qPrintable(o.message));
    QVERIFY(QFile::exists(output));
}

void TestFaults::stopAtSeveralPoints_data()
{
    QTest::addColumn<int>("when"); // 0 at once, 1 at the first progress, 2 past 40 %
    QTest::newRow("at once") << 0;
    QTest::newRow("first progress") << 1;
    QTest::newRow("well under way") << 2;
}

void TestFaults::stopAtSeveralPoints()
{
    QFETCH(int, when);
    const QString folder = m_dir.filePath(QStringLiteral("stop%1").arg(when));
    QDir().mkpath(folder);
    const QString output = folder + QStringLiteral("/cut.mp4");
    QFile existing(output);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("an earlier cut");
    existing.close();

    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    qint64 lastPosition = 0;
    connect(&encoder, &Encoder::encoderProgress, this, [&](qint64, qint64 position, qint64) { lastPosition = position; });
    QVERIFY(startSlowJob(encoder, output));
    if (when == 1)
        QTRY_VERIFY_WITH_TIMEOUT(lastPosition > 0, 30000);
    else if (when == 2)
        QTRY_VERIFY_WITH_TIMEOUT(lastPosition > 3200000, 60000);
    encoder.stopEncoding(false);
    QVERIFY(!encoder.isRunning());
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
    QCOMPARE(QProcess::execute(QStringLiteral("pkill"), {"-KILL", "-f", folder + QStringLiteral("/.snipora-")}), 0);
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
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", mount}) != 0) {
        if (::geteuid() == 0)
            QSKIP("cannot mount a tmpfs here");
        // Without root a folder without write permission does as well.
        QVERIFY(QFile::setPermissions(mount, QFile::ReadOwner | QFile::ExeOwner));
    }
    auto cleanup = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("umount"), {mount});
        QFile::setPermissions(mount, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const int input = encoder.addInputFile(m_clip, QString());
    QCOMPARE(encoder.addOutputFile(input, mount + QStringLiteral("/cut.mp4"), QStringLiteral("-vn")), -1);
    QVERIFY2(encoder.lastErrorText().contains(QStringLiteral("Cannot write")), qPrintable(encoder.lastErrorText()));
    nextCutWorks(encoder);
}

void TestFaults::destinationFull()
{
    const QString mount = m_dir.filePath(QStringLiteral("full"));
    QDir().mkpath(mount);
    if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=256k", "tmpfs", mount}) != 0)
        QSKIP("cannot mount a small tmpfs here (needs root)");
    auto cleanup = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mount}); });
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    QVERIFY(startSlowJob(encoder, mount + QStringLiteral("/cut.mp4")));
    const Outcome o = wait(encoder, 120000);
    QVERIFY(o.failed);
    QVERIFY2(o.message.contains(QStringLiteral("No space left")) || o.message.contains(QStringLiteral("could not be written"))
                 || o.message.contains(QStringLiteral("failed")),
             qPrintable(o.message));
    QVERIFY(QDir(mount).entryList(QDir::Files | QDir::Hidden).isEmpty());
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
    QVERIFY(encoder.addOutputFile(input, output, QStringLiteral("-vcodec copy -acodec copy -t 2")) >= 0);
    QVERIFY(QFile::remove(source)); // gone between the Open and the OK
    QVERIFY(encoder.startEncoding(1));
    const Outcome o = wait(encoder);
    QVERIFY(o.failed);
    QVERIFY2(o.message.contains(QStringLiteral("vanishing.mp4")) || o.message.contains(QStringLiteral("No such file")),
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
    QCOMPARE(QProcess::execute(QStringLiteral("pgrep"), {"-f", folder + QStringLiteral("/.snipora-")}), 1); // none left
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
