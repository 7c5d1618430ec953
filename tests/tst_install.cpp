#include "appfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// "cmake --install" into a temporary prefix: the programs, the files they look for, and a
// desktop entry, icons and metainfo that the freedesktop validators accept.
class TestInstall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void installedTree();
    void programFolderFromTheInstallTree();
    void validators();
    void installedCommandLine();

private:
    int run(const QString &program, const QStringList &args, QString *output = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(120000))
            return -1;
        if (output)
            *output = QString::fromUtf8(p.readAll());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QTemporaryDir m_prefix;
};

void TestInstall::initTestCase()
{
    QString log;
    QCOMPARE(run(QStringLiteral("cmake"),
                 { "--install", QStringLiteral(SNIPORA_BUILD_DIR), "--prefix", m_prefix.path() },
                 &log),
             0);
}

void TestInstall::installedTree()
{
    const QDir p(m_prefix.path());
    for (const char *file :
         { "bin/snipora", "bin/snipora-cut", "share/snipora/skin.qss",
           "share/snipora/help/index.html", "share/applications/snipora.desktop",
           "share/metainfo/org.ferrolan.Snipora.metainfo.xml",
           "share/icons/hicolor/scalable/apps/snipora.svg",
           "share/icons/hicolor/16x16/apps/snipora.png",
           "share/icons/hicolor/48x48/apps/snipora.png",
           "share/icons/hicolor/256x256/apps/snipora.png", "share/man/man1/snipora-cut.1" })
        QVERIFY2(QFileInfo::exists(p.filePath(QLatin1String(file))), file);
    QVERIFY(QFileInfo(p.filePath(QStringLiteral("bin/snipora"))).isExecutable());
}

void TestInstall::programFolderFromTheInstallTree()
{
    const QString bin = m_prefix.path() + QStringLiteral("/bin");
    QCOMPARE(ResolveProgramFolder(bin),
             QDir(m_prefix.path() + QStringLiteral("/share/snipora")).canonicalPath());
    // The build tree keeps its files beside the programs.
    QCOMPARE(ResolveProgramFolder(QCoreApplication::applicationDirPath()),
             QCoreApplication::applicationDirPath());
    // Neither: the program's own folder.
    QTemporaryDir empty;
    QCOMPARE(ResolveProgramFolder(empty.path()), empty.path());
}

void TestInstall::validators()
{
    QString out;
    QCOMPARE(run(QStringLiteral("desktop-file-validate"),
                 { m_prefix.filePath(QStringLiteral("share/applications/snipora.desktop")) }, &out),
             0);
    QVERIFY2(out.trimmed().isEmpty(), qPrintable(out));
    QVERIFY2(run(QStringLiteral("appstreamcli"),
                 { "validate", "--no-net",
                   m_prefix.filePath(
                       QStringLiteral("share/metainfo/org.ferrolan.Snipora.metainfo.xml")) },
                 &out)
                 == 0,
             qPrintable(out));
    // The entry opens the media types of the Open dialog.
    QFile desktop(m_prefix.filePath(QStringLiteral("share/applications/snipora.desktop")));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QByteArray entry = desktop.readAll();
    for (const char *type :
         { "video/mp4", "video/x-matroska", "audio/mpeg", "audio/flac", "video/webm" })
        QVERIFY2(entry.contains(type), type);
}

void TestInstall::installedCommandLine()
{
    QString out;
    QCOMPARE(run(m_prefix.filePath(QStringLiteral("bin/snipora-cut")), { "--help" }, &out), 0);
    QVERIFY(out.contains(QStringLiteral("Usage:")));
    QCOMPARE(run(m_prefix.filePath(QStringLiteral("bin/snipora-cut")), { "--list-formats" }, &out),
             0);
    QCOMPARE(out.count(QLatin1Char('\n')), 138);
    if (!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty()) {
        QCOMPARE(run(QStringLiteral("man"),
                     { "-l", m_prefix.filePath(QStringLiteral("share/man/man1/snipora-cut.1")) },
                     &out),
                 0);
        QVERIFY(out.contains(QStringLiteral("EXIT STATUS")));
    }
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
