// The segment list: which ranges a cut of several segments saves, the CSV form of the list, and
// the window's list with its undo history.

#include "segmentlist.h"

#include <QtTest>

using Segments = QList<Segment>;
Q_DECLARE_METATYPE(Segments)

namespace {

Segments parse(const QString &compact)
{
    // "1-2,5-7.5" -> segments
    Segments result;
    for (const QString &piece : compact.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = piece.split(QLatin1Char('-'));
        result << Segment { ends.at(0).toDouble(), ends.at(1).toDouble(), QString() };
    }
    return result;
}

} // namespace

class TestSegmentList : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<QString>("segments");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("ranges");
        QTest::addColumn<int>("notes");
        QTest::newRow("keep, list order") << "5-6,1-2,8-9" << true << 10.0 << "5-6,1-2,8-9" << 0;
        QTest::newRow("keep, overlap at first's place")
            << "5-7,1-2,6-8" << true << 10.0 << "5-8,1-2" << 1;
        QTest::newRow("keep, touching joined") << "1-2,2-3" << true << 10.0 << "1-3" << 1;
        QTest::newRow("keep, chain through a later one")
            << "1-2,3-4,1.5-3.5" << true << 10.0 << "1-4" << 2;
        QTest::newRow("keep, clipped at the end") << "8-12" << true << 10.0 << "8-10" << 1;
        QTest::newRow("keep, wholly past the end") << "11-12,1-2" << true << 10.0 << "1-2" << 1;
        QTest::newRow("keep, empty dropped") << "3-3,1-2" << true << 10.0 << "1-2" << 1;
        QTest::newRow("keep, unknown length") << "8-12" << true << 0.0 << "8-12" << 0;
        QTest::newRow("remove one from the middle") << "4-5" << false << 10.0 << "0-4,5-10" << 0;
        QTest::newRow("remove three, any order")
            << "7-8,1-2,4-5" << false << 10.0 << "0-1,2-4,5-7,8-10" << 0;
        QTest::newRow("remove at both ends") << "0-1,9-10" << false << 10.0 << "1-9" << 0;
        QTest::newRow("remove everything") << "0-10" << false << 10.0 << "" << 0;
        QTest::newRow("remove overlapping") << "2-4,3-6" << false << 10.0 << "0-2,6-10" << 1;
        QTest::newRow("nothing listed") << "" << true << 10.0 << "" << 0;
    }

    void plan()
    {
        QFETCH(QString, segments);
        QFETCH(bool, keep);
        QFETCH(double, duration);
        QFETCH(QString, ranges);
        QFETCH(int, notes);
        const SegmentPlan plan
            = PlanSegments(parse(segments), keep ? SegmentUse::Keep : SegmentUse::Remove, duration);
        QCOMPARE(plan.ranges, parse(ranges));
        QCOMPARE(plan.notes.size(), notes);
    }

    void csvRoundTrip()
    {
        const Segments list { { 0, 1.5, QStringLiteral("intro") },
                              { 1.0 / 3.0, 62.04, QStringLiteral("a, \"quoted\" one") },
                              { 3600.25, 3700, QStringLiteral("two\nlines") },
                              { 5, 6, QString() } };
        const Result<Segments> read = SegmentsFromCsv(SegmentsToCsv(list));
        QVERIFY(read);
        QCOMPARE(read.value(), list);
    }

    void csvRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("segments"); // "" with an error expected: "!"
        QTest::newRow("no header, no labels") << "1,2\n3.5,4\n"
                                              << "1-2,3.5-4";
        QTest::newRow("header and blank lines") << "start,end,label\n\n1,2,a\r\n\n"
                                                << "1-2";
        QTest::newRow("time codes") << "00:00:01.5,00:01:00,x\n"
                                    << "1.5-60";
        QTest::newRow("comma decimals refused") << "1,5,2,5\n"
                                                << "!";
        QTest::newRow("text in a time") << "1,2\nabc,3\n"
                                        << "!";
        QTest::newRow("one field") << "12\n"
                                   << "!";
        QTest::newRow("unterminated quote") << "1,2,\"open\n"
                                            << "!";
        QTest::newRow("empty file") << ""
                                    << "";
    }

    void csvRead()
    {
        QFETCH(QString, text);
        QFETCH(QString, segments);
        const Result<Segments> read = SegmentsFromCsv(text);
        if (segments == QLatin1String("!")) {
            QCOMPARE(read.code(), ErrorCode::BadRequest);
            QVERIFY(read.error().sentence.startsWith(QLatin1String("Line ")));
            return;
        }
        QVERIFY2(read, qPrintable(read.error().sentence));
        Segments bare = read.value();
        for (Segment &s : bare)
            s.label.clear();
        QCOMPARE(bare, parse(segments));
    }

    // Every change of the list and the marks is undone and redone in order; a change after an
    // undo drops what could have been redone.
    void undoRedo()
    {
        SegmentList list;
        QList<SegmentList::State> seen { list.state() };
        list.setMarks(1, 2);
        seen << list.state();
        QVERIFY(list.addFromMarks());
        seen << list.state();
        list.select(0);
        seen << list.state();
        list.setMarks(5, 6); // the selected segment follows the marks
        seen << list.state();
        QCOMPARE(list.segments(), parse("5-6"));
        list.select(-1);
        seen << list.state();
        list.setMarks(7, 9);
        seen << list.state();
        QVERIFY(list.addFromMarks());
        seen << list.state();
        list.select(1);
        seen << list.state();
        QVERIFY(list.move(1, 0));
        seen << list.state();
        QCOMPARE(list.selected(), 0);
        QVERIFY(list.remove(1));
        seen << list.state();
        QCOMPARE(list.segments(), parse("7-9"));

        for (int i = int(seen.size()) - 2; i >= 0; --i) {
            list.undo();
            QCOMPARE(list.state(), seen.at(i));
        }
        QVERIFY(!list.canUndo());
        list.redo();
        list.redo();
        QCOMPARE(list.state(), seen.at(2));
        QCOMPARE(list.selected(), -1); // an added segment is not selected
        list.setMarks(3, 4);
        QVERIFY(!list.canRedo());
    }

    void refusedEditsLeaveNoHistory()
    {
        SegmentList list;
        list.setMarks(4, 4);
        QVERIFY(!list.addFromMarks()); // no range
        QVERIFY(!list.remove(0));
        QVERIFY(!list.move(0, 1));
        list.setMarks(4, 4); // no change
        list.undo();
        QCOMPARE(list.state().startMark, 0.0);
        QVERIFY(!list.canUndo());
    }
};

QTEST_GUILESS_MAIN(TestSegmentList)
#include "tst_segmentlist.moc"
