#include "cutjob.h"
#include "fakeencoder.h"
#include "startcut.h"

#include <QTemporaryDir>
#include <QTest>

// The job value and the one job start: which step refuses, what the encoder is left holding.
class TestCutJob : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outputPathAndMode_data();
    void outputPathAndMode();
    void refusals_data();
    void refusals();
    void sameFileSeesThroughSpellings();
};

void TestCutJob::outputPathAndMode_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("directCopy");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("inputOptions");
    const int exactCopy = int(CutMode::ExactCopy);
    const int keyFrame = int(CutMode::KeyFrameCopy);
    const int convert = int(CutMode::Convert);
    QTest::newRow("convert") << "mp4" << false << false << "/out/Clip-cut.mp4" << convert
                             << "-TimeStart 12.5";
    QTest::newRow("convert, exact box ignored")
        << "mkv" << false << true << "/out/Clip-cut.mkv" << convert << "-TimeStart 12.5";
    QTest::newRow("exact copy") << "mp4" << true << true << "/out/Clip-cut.mp4" << exactCopy << "";
    QTest::newRow("key-frame copy, no extension")
        << "" << true << false << "/out/Clip-cut" << keyFrame << "";
}

void TestCutJob::outputPathAndMode()
{
    QFETCH(QString, extension);
    QFETCH(bool, directCopy);
    QFETCH(bool, exact);
    QFETCH(QString, path);
    QFETCH(int, mode);
    QFETCH(QString, inputOptions);
    CutJob job;
    job.source.path = QStringLiteral("/v/Clip.mp4");
    job.ranges = { CutSpan { 12.5, 42.5, QString() } };
    job.mode = CutModeOf(directCopy, exact);
    job.output = CutOutput { QStringLiteral("/out/"), QStringLiteral("Clip-cut"), extension };
    QCOMPARE(job.outputPath(), path);
    QCOMPARE(int(job.mode), mode);

    FakeEncoder encoder;
    QVERIFY(startCut(encoder, job).ok());
    QCOMPARE(encoder.inputOptions, inputOptions);
    QCOMPARE(encoder.outputPath, path);
    QVERIFY(encoder.mode.has_value());
    QCOMPARE(int(*encoder.mode), mode); // typed, whatever the options say
}

void TestCutJob::refusals_data()
{
    QTest::addColumn<int>("inputResult");
    QTest::addColumn<bool>("outputIsInput");
    QTest::addColumn<int>("outputResult");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("calls");
    const QStringList setUp { "clearJobs", "addInputFile", "addOutputFile" };
    QTest::newRow("source unreadable")
        << -1 << false << 0 << true << int(ErrorCode::SourceUnreadable)
        << QStringList { "clearJobs", "addInputFile" };
    QTest::newRow("output is the input")
        << 0 << true << 0 << true << int(ErrorCode::OutputIsInput)
        << QStringList { "clearJobs", "addInputFile", "removeInputFile" };
    QTest::newRow("output refused") << 0 << false << -1 << true << int(ErrorCode::NotPossible)
                                    << setUp + QStringList { "removeInputFile" };
    QTest::newRow("start refused") << 0 << false << 0 << false << int(ErrorCode::EncoderFailed)
                                   << setUp + QStringList { "startEncoding", "removeInputFile" };
    QTest::newRow("started") << 0 << false << 0 << true << int(ErrorCode::None)
                             << setUp + QStringList { "startEncoding" };
}

void TestCutJob::refusals()
{
    QFETCH(int, inputResult);
    QFETCH(bool, outputIsInput);
    QFETCH(int, outputResult);
    QFETCH(bool, starts);
    QFETCH(int, code);
    QFETCH(QStringList, calls);
    QTemporaryDir dir;
    QFile source(dir.filePath(QStringLiteral("Clip.mp4")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    CutJob job;
    job.source.path = source.fileName();
    job.ranges = { CutSpan { 1, 2, QString() } };
    job.output = CutOutput { dir.path() + QStringLiteral("/"),
                             outputIsInput ? QStringLiteral("Clip") : QStringLiteral("Clip-cut"),
                             QStringLiteral("mp4") };
    job.replaceAllowed = true;
    FakeEncoder encoder;
    encoder.inputResult = inputResult;
    encoder.outputResult = outputResult;
    encoder.startResult = starts;
    encoder.errorText = QStringLiteral("why");
    const Outcome outcome = startCut(encoder, job);
    QCOMPARE(int(outcome.code()), code);
    QCOMPARE(encoder.calls, calls);
    // Consent is given only to a job that was set up.
    QCOMPARE(encoder.replaceAllowed(), code == int(ErrorCode::None) || !starts);
    if (code == int(ErrorCode::OutputIsInput))
        QVERIFY(outcome.error().sentence.contains(job.outputPath()));
    else if (!outcome.ok())
        QCOMPARE(outcome.error().sentence, QStringLiteral("why"));
}

void TestCutJob::sameFileSeesThroughSpellings()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("a.mp4")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(file.fileName(), dir.filePath(QStringLiteral("link.mp4"))));
    QVERIFY(SameFile(file.fileName(), dir.filePath(QStringLiteral("sub/../a.mp4"))));
    QVERIFY(SameFile(file.fileName(), dir.filePath(QStringLiteral("link.mp4"))));
    QVERIFY(!SameFile(file.fileName(), dir.filePath(QStringLiteral("b.mp4"))));
}

QTEST_GUILESS_MAIN(TestCutJob)
#include "tst_cutjob.moc"
