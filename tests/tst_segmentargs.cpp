// snipora-cut's segment options: spans as the command line gives them, and the list resolved
// against the source's length, with the refusals a user gets (exit 2 with these sentences).

#include "segmentargs.h"

#include <QTemporaryDir>
#include <QtTest>

class TestSegmentArgs : public QObject
{
    Q_OBJECT

private slots:
    void span_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("start"); // -1: refused
        QTest::addColumn<double>("end");
        QTest::newRow("seconds") << "62.5-70" << 62.5 << 70.0;
        QTest::newRow("time codes") << "1:02:03.5-1:02:10" << 3723.5 << 3730.0;
        QTest::newRow("mixed, blanks") << " 00:00:05-7 " << 5.0 << 7.0;
        QTest::newRow("end before start") << "9-3" << -1.0 << 0.0;
        QTest::newRow("empty range") << "3-3" << -1.0 << 0.0;
        QTest::newRow("one time") << "12" << -1.0 << 0.0;
        QTest::newRow("negative") << "-1-3" << -1.0 << 0.0;
        QTest::newRow("words") << "start-end" << -1.0 << 0.0;
    }

    void span()
    {
        QFETCH(QString, text);
        QFETCH(double, start);
        QFETCH(double, end);
        const Result<Segment> s = ParseSpan(QStringLiteral("--keep"), text);
        QCOMPARE(s.ok(), start >= 0);
        if (s) {
            QCOMPARE(s.value().start, start);
            QCOMPARE(s.value().end, end);
        } else {
            QCOMPARE(s.code(), ErrorCode::BadRequest);
            QVERIFY(s.error().sentence.startsWith(QLatin1String("--keep")));
        }
    }

    void resolve_data()
    {
        QTest::addColumn<QString>("kind"); // keep, remove, both, csv
        QTest::addColumn<QStringList>("spans");
        QTest::addColumn<int>("ranges"); // -1: refused
        QTest::addColumn<QString>("sentence"); // the refusal, or the first note
        QTest::addColumn<ErrorCode>("code"); // of the refusal
        using E = ErrorCode;
        QTest::newRow("keep two") << "keep" << QStringList { "1-2", "5-6" } << 2 << "" << E::None;
        QTest::newRow("overlap merged with a note")
            << "keep" << QStringList { "1-3", "2-4" } << 1 << "overlap or touch" << E::None;
        QTest::newRow("remove the middle")
            << "remove" << QStringList { "4-5" } << 2 << "" << E::None;
        QTest::newRow("past the end")
            << "keep" << QStringList { "1-2", "20-30" } << -1
            << "starts at or past the end of in.mp4 (10 s long)" << E::NotPossible;
        QTest::newRow("end clipped")
            << "keep" << QStringList { "8-30" } << 1 << "ends past the end" << E::None;
        QTest::newRow("remove all")
            << "remove" << QStringList { "0-10" } << -1 << "leaves nothing" << E::NotPossible;
        QTest::newRow("mixed kinds")
            << "both" << QStringList { "1-2" } << -1 << "cannot be mixed" << E::BadRequest;
        QTest::newRow("empty list")
            << "keep" << QStringList {} << -1 << "is empty" << E::BadRequest;
        QTest::newRow("from a file")
            << "csv" << QStringList { "1,2,a", "3,4,b" } << 2 << "" << E::None;
        QTest::newRow("bad file") << "csv" << QStringList { "1,2", "x" } << -1 << "Line 2"
                                  << E::BadRequest;
    }

    void resolve()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, spans);
        QFETCH(int, ranges);
        QFETCH(QString, sentence);
        QFETCH(ErrorCode, code);
        SegmentArgs args;
        QTemporaryDir dir;
        if (kind == QLatin1String("csv")) {
            args.csvPath = dir.filePath(QStringLiteral("list.csv"));
            QFile f(args.csvPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(spans.join(QLatin1Char('\n')).toUtf8());
        } else {
            args.keepGiven = kind != QLatin1String("remove");
            args.removeGiven = kind != QLatin1String("keep");
            for (const QString &span : spans) {
                const Result<Segment> s = ParseSpan(QStringLiteral("--keep"), span);
                QVERIFY(s);
                args.segments << s.value();
            }
        }
        const Result<SegmentPlan> resolved = ResolveSegments(args, 10, QStringLiteral("in.mp4"));
        QCOMPARE(resolved.ok(), ranges >= 0);
        QCOMPARE(resolved.code(), code);
        if (!resolved) {
            const QString &error = resolved.error().sentence;
            QVERIFY2(error.contains(sentence), qPrintable(error));
            return;
        }
        const SegmentPlan &plan = resolved.value();
        QCOMPARE(plan.ranges.size(), ranges);
        QCOMPARE(plan.notes.isEmpty(), sentence.isEmpty());
        if (!sentence.isEmpty())
            QVERIFY2(plan.notes.first().contains(sentence), qPrintable(plan.notes.first()));
    }
};

QTEST_GUILESS_MAIN(TestSegmentArgs)
#include "tst_segmentargs.moc"
