#include "cutplanner.h"
#include "plannerframes.h"

#include <QTest>

#include <algorithm>

// The cut plan of a long source stays linear in its frames: a two-hour film at 60 frames a
// second has 432 000 of them, and the plan is made before every copy.
class TestCutPlanner : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void linear_data();
    void linear();
};

void TestCutPlanner::linear_data()
{
    QTest::addColumn<int>("gop");
    QTest::addColumn<int>("bFrames");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("exact");
    QTest::newRow("closed GOPs of 25, exact") << 25 << 2 << false << true;
    QTest::newRow("closed GOPs of 25, key frame copy") << 25 << 2 << false << false;
    QTest::newRow("open GOPs of 50, exact") << 50 << 3 << true << true;
    QTest::newRow("one key frame, exact (all re-encoded)") << 1 << 0 << false << true;
    QTest::newRow("key frames 10 000 apart, exact") << 10000 << 2 << false << true;
}

void TestCutPlanner::linear()
{
    QFETCH(int, gop);
    QFETCH(int, bFrames);
    QFETCH(bool, open);
    QFETCH(bool, exact);
    // A gop of 1 stands for a source with a key frame at its start only.
    const int count = 1600000;
    const QList<CutFrame> frames = makeFrames(count, gop == 1 ? count : gop, bFrames, open);
    // A plan worse than linear needs hours for these frames (a trillion steps when quadratic),
    // so the test's time limit fails it; how the plan's time grows is measured in bench/.
    const qint64 startPts = count / 10 + 3;
    const qint64 endPts = count - count / 10 + 5;
    const CutPlan plan = PlanCut(frames, startPts, endPts, exact);
    QVERIFY2(plan.ok, qPrintable(plan.error));
    QVERIFY(plan.lastPacket < count);
    if (exact) {
        // The output begins on the marked frame and ends before the end mark.
        QCOMPARE(plan.zeroPts, startPts);
        QCOMPARE(plan.endPts, endPts);
    } else {
        // A key frame copy begins on a key frame at or before the start mark.
        QVERIFY(plan.zeroPts <= startPts);
        QVERIFY(frames[plan.copyFrom].startsDecoding());
        QVERIFY(!plan.head.active() && !plan.tail.active());
    }
    // Between the edges, whole closed GOPs are copied, not encoded (a copy begins only on a
    // clean key frame, which the open GOPs here have only at the start).
    if (!open && gop > 1 && gop < count / 4)
        QVERIFY2(plan.copiedCount() > count / 2, qPrintable(QString::number(plan.copiedCount())));
}

QTEST_GUILESS_MAIN(TestCutPlanner)
#include "tst_cutplanner.moc"
