#include "avlogging.h"
#include "temporaryoutput.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The way from a job's temporary file to its final name: a result is kept only when it is
// media of the length asked for, an existing file is replaced only with consent, and no
// temporary is left behind whatever happens.
class TestTemporaryOutput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void commit_data();
    void commit();
    void refusedFolder();
};

namespace {

enum class Written { Wav, Garbage, Nothing };
enum class Final { Result, Old, Absent };

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The names in a folder that a temporary output uses.
QStringList temporaries(const QString &folder)
{
    return QDir(folder).entryList({ QStringLiteral(".snipora-*") },
                                  QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

void TestTemporaryOutput::initTestCase()
{
    QuietLibavLogging();
}

void TestTemporaryOutput::commit_data()
{
    QTest::addColumn<Written>("written");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<qint64>("expectedMicros");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("folderGone");
    QTest::addColumn<ErrorCode>("code"); // ErrorCode::None: saved
    QTest::addColumn<Final>("final");
    QTest::addColumn<bool>("beside"); // the result kept under "out-2.wav"
    const qint64 s = 1000000;
    using E = ErrorCode;
    QTest::newRow("new file") << Written::Wav << 2.0 << 2 * s << false << false << false << E::None
                              << Final::Result << false;
    QTest::newRow("replaced with consent") << Written::Wav << 2.0 << 2 * s << true << true << false
                                           << E::None << Final::Result << false;
    QTest::newRow("existing file kept, result beside it")
        << Written::Wav << 2.0 << 2 * s << true << false << false << E::OutputExists << Final::Old
        << true;
    QTest::newRow("not media") << Written::Garbage << 0.0 << 2 * s << false << false << false
                               << E::EncoderFailed << Final::Absent << false;
    QTest::newRow("not media, existing file kept")
        << Written::Garbage << 0.0 << 2 * s << true << true << false << E::EncoderFailed
        << Final::Old << false;
    QTest::newRow("nothing written") << Written::Nothing << 0.0 << 2 * s << false << false << false
                                     << E::EncoderFailed << Final::Absent << false;
    QTest::newRow("less than half the length")
        << Written::Wav << 0.9 << 2 * s << false << false << false << E::EncoderFailed
        << Final::Absent << false;
    QTest::newRow("short but under a second asked for")
        << Written::Wav << 0.2 << s / 2 << false << false << false << E::None << Final::Result
        << false;
    QTest::newRow("folder gone") << Written::Wav << 2.0 << 2 * s << false << false << true
                                 << E::DestinationUnusable << Final::Absent << false;
}

void TestTemporaryOutput::commit()
{
    QFETCH(Written, written);
    QFETCH(double, seconds);
    QFETCH(qint64, expectedMicros);
    QFETCH(bool, existing);
    QFETCH(bool, replace);
    QFETCH(bool, folderGone);
    QFETCH(ErrorCode, code);
    QFETCH(Final, final);
    QFETCH(bool, beside);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QString folder = root.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    const QByteArray old("an older file");
    if (existing)
        QVERIFY(write(folder + QStringLiteral("/out.wav"), old));

    TemporaryOutput output;
    const Outcome begun = output.begin(folder + QStringLiteral("/out.wav"));
    QVERIFY2(begun, qPrintable(begun.error().sentence));
    QVERIFY(output.temporaryPath().endsWith(QLatin1String(".wav")));
    if (written == Written::Wav)
        QVERIFY(WriteWav(output.temporaryPath(), seconds));
    else if (written == Written::Garbage)
        QVERIFY(write(output.temporaryPath(), QByteArray(4096, 'x')));
    const QByteArray result = contents(output.temporaryPath());
    if (folderGone) {
        const QString moved = root.filePath(QStringLiteral("moved"));
        QVERIFY(QDir().rename(folder, moved));
        folder = moved;
    }

    const Outcome saved = output.commit(expectedMicros, replace);
    QCOMPARE(saved.code(), code);
    QCOMPARE(saved.error().sentence.isEmpty(), saved.ok());
    QVERIFY(!output.isActive());
    QCOMPARE(temporaries(folder), QStringList());
    const QString finalPath = folder + QStringLiteral("/out.wav");
    switch (final) {
    case Final::Result:
        QCOMPARE(contents(finalPath), result);
        break;
    case Final::Old:
        QCOMPARE(contents(finalPath), old);
        break;
    case Final::Absent:
        QVERIFY(!QFile::exists(finalPath));
        break;
    }
    QCOMPARE(QFile::exists(folder + QStringLiteral("/out-2.wav")), beside);
    if (beside)
        QCOMPARE(contents(folder + QStringLiteral("/out-2.wav")), result);
}

void TestTemporaryOutput::refusedFolder()
{
    TemporaryOutput output;
    const Outcome begun = output.begin(QStringLiteral("/nonexistent-folder-of-snipora/out.wav"));
    QCOMPARE(begun.code(), ErrorCode::DestinationUnusable);
    QVERIFY(!begun.error().sentence.isEmpty());
    QVERIFY(!output.isActive());
    QVERIFY(!output.commit(0, false));
}

QTEST_GUILESS_MAIN(TestTemporaryOutput)
#include "tst_temporaryoutput.moc"
