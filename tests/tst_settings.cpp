#include "settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// The store is pointed at a temporary folder; the user's own settings are never touched.
class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void roundTrip_data();
    void roundTrip();
    void missingValueReadsEmpty();
    void nulCleaning();
    void nonStringValuesReadAsText();
    void unreadableStoreReadsEmpty();

private:
    QString storeFile() const
    {
        return m_dir->path() + QStringLiteral("/Ferrolan Software/Snipora.conf");
    }
    void writeRaw(const QByteArray &content)
    {
        QDir().mkpath(m_dir->path() + QStringLiteral("/Ferrolan Software"));
        QFile f(storeFile());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->path());
}

void TestSettings::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("folder") << "/home/ann/Videos/";
    QTest::newRow("empty") << "";
    QTest::newRow("comma and quotes") << "/tmp/a, \"b\"/";
    QTest::newRow("unicode") << QStringLiteral("/tmp/vidéo/日本/");
    QTest::newRow("looks like a number") << "42";
    QTest::newRow("backslashes") << "C:\\Out\\";
}

void TestSettings::roundTrip()
{
    QFETCH(QString, text);
    WriteSetting(QStringLiteral("OutPath"), text);
    QVERIFY(QFile::exists(storeFile()));
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), text);
    // Stored as a string value in the file itself.
    QSettings raw(storeFile(), QSettings::IniFormat);
    QCOMPARE(raw.value(QStringLiteral("OutPath")).typeId(), int(QMetaType::QString));
}

void TestSettings::missingValueReadsEmpty()
{
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString()); // no store at all
    WriteSetting(QStringLiteral("ShowMoreBtn"), QStringLiteral("No"));
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString());
    QCOMPARE(ReadSetting(QStringLiteral("ShowMoreBtn")), QStringLiteral("No"));
}

void TestSettings::nulCleaning()
{
    WriteSetting(QStringLiteral("A"), QStringLiteral("abc") + QChar(0));
    WriteSetting(QStringLiteral("B"), QChar(0) + QStringLiteral("abc"));
    WriteSetting(QStringLiteral("C"), QStringLiteral("abc") + QChar(0) + QChar(0));
    QCOMPARE(ReadSetting(QStringLiteral("A")), QStringLiteral("abc"));
    QCOMPARE(ReadSetting(QStringLiteral("B")), QString());
    QCOMPARE(ReadSetting(QStringLiteral("C")), QStringLiteral("abc") + QChar(0));
}

void TestSettings::nonStringValuesReadAsText()
{
    {
        QSettings s(QStringLiteral("Ferrolan Software"), QStringLiteral("Snipora"));
        s.setValue(QStringLiteral("Number"), 42);
        s.setValue(QStringLiteral("Flag"), true);
    }
    QCOMPARE(ReadSetting(QStringLiteral("Number")), QStringLiteral("42"));
    QCOMPARE(ReadSetting(QStringLiteral("Flag")), QStringLiteral("true"));
    // An unquoted list typed by hand reads as its text.
    writeRaw("[General]\nOutPath=/a,/b\n");
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QStringLiteral("/a, /b"));
}

void TestSettings::unreadableStoreReadsEmpty()
{
    // Garbage bytes in the store file.
    writeRaw(QByteArray("\x00\xff\xfe[[[=\n\x01\x02OutPath", 17));
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString());
    // A folder where the store file should be.
    QFile::remove(storeFile());
    QVERIFY(QDir().mkpath(storeFile()));
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString());
    WriteSetting(QStringLiteral("OutPath"), QStringLiteral("/x/")); // ignored, no crash
    QCOMPARE(ReadSetting(QStringLiteral("OutPath")), QString());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
