#include "ffmpegencoder.h"
#include "medialibrary.h"
#include "mpvplayer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The library checks that decide whether the program can start.
class TestMediaLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void localProgramWins();
    void brokenLocalProgramFails();
    void fallsBackToPath();
    void encoderLoadsFromFolder();
    void mpvInitialises();

private:
    QString writeScript(const QTemporaryDir &dir, const QByteArray &body)
    {
        const QString path = dir.filePath(QStringLiteral("ffmpeg"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write("#!/bin/sh\n" + body);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
};

void TestMediaLibrary::localProgramWins()
{
    QTemporaryDir dir;
    const QString local = writeScript(dir, "echo 'ffmpeg version test'\n");
    QCOMPARE(FindFfmpegProgram(dir.path()), local);
    QVERIFY(FfmpegProgramRuns(local));
}

void TestMediaLibrary::brokenLocalProgramFails()
{
    QTemporaryDir dir;
    const QString local = writeScript(dir, "echo 'ffmpeg version test'\nexit 1\n");
    QCOMPARE(FindFfmpegProgram(dir.path()), local);
    QVERIFY(!FfmpegProgramRuns(local));
    QVERIFY(!FfmpegProgramRuns(QString()));
    // Something else that exits 0 is not ffmpeg.
    QVERIFY(!FfmpegProgramRuns(QStandardPaths::findExecutable(QStringLiteral("true"))));
}

void TestMediaLibrary::fallsBackToPath()
{
    QTemporaryDir dir; // no ffmpeg inside
    const QString system = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY2(!system.isEmpty(), "ffmpeg is installed by scripts/install-deps.sh");
    QCOMPARE(FindFfmpegProgram(dir.filePath(QStringLiteral("LibAV"))), system);
    QVERIFY(FfmpegProgramRuns(system));
}

void TestMediaLibrary::encoderLoadsFromFolder()
{
    QTemporaryDir dir;
    writeScript(dir, "exit 3\n");
    FfmpegEncoder broken;
    QVERIFY(!broken.loadLibrary(dir.path()));
    QVERIFY(!broken.isLibraryLoaded());

    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(encoder.isLibraryLoaded());
}

void TestMediaLibrary::mpvInitialises()
{
    MpvPlayer player(MpvPlayer::Options { true });
    QVERIFY(!player.isLibraryLoaded());
    QVERIFY(player.loadLibrary());
    QVERIFY(player.isLibraryLoaded());
}

QTEST_MAIN(TestMediaLibrary)
#include "tst_medialibrary.moc"
