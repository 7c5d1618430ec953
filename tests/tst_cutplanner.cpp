#include "cutplanner.h"

#include <QElapsedTimer>
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

namespace {

// Frames in decoding order, key frames every `gop`, with `bFrames` B-frames shown before each
// P-frame (the usual reordering); open: the key frames after the first are recovery points.
QList<CutFrame> makeFrames(int count, int gop, int bFrames, bool open)
{
    QList<CutFrame> frames;
    frames.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int inGop = i % gop;
        CutFrame f;
        f.size = 1000;
        f.key = inGop == 0;
        f.clean = f.key && (!open || i == 0);
        // Decoding order I P B B P B B ...: a P-frame is shown after the B-frames that follow it.
        const int group = bFrames + 1;
        if (inGop == 0 || bFrames == 0)
            f.pts = i;
        else if ((inGop - 1) % group == 0)
            f.pts = std::min(i + bFrames, (i / gop) * gop + gop - 1);
        else
            f.pts = i - 1;
        frames << f;
    }
    return frames;
}

// The fastest of a few runs (nanoseconds): the least disturbed by other work on the machine.
qint64 planTime(const QList<CutFrame> &frames, bool exact)
{
    qint64 best = std::numeric_limits<qint64>::max();
    const qint64 n = frames.size();
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        const CutPlan plan = PlanCut(frames, n / 10 + 3, n - n / 10 + 5, exact);
        best = std::min(best, clock.nsecsElapsed());
        if (!plan.ok)
            return -1;
    }
    return std::max<qint64>(best, 1);
}

} // namespace

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
    const auto frames
        = [&](int count) { return makeFrames(count, gop == 1 ? count : gop, bFrames, open); };
    const qint64 small = planTime(frames(100000), exact);
    const qint64 large = planTime(frames(500000), exact);
    QVERIFY2(small > 0 && large > 0, "no plan");
    // Five times the frames: about five times the work when linear, 25 times when quadratic.
    // The bound lies far from both, so a busy machine does not make it fail.
    const double ratio = double(large) / double(small);
    QVERIFY2(
        ratio < 12,
        qPrintable(
            QStringLiteral("500k frames took %1 times as long as 100k").arg(ratio, 0, 'f', 1)));
}

QTEST_GUILESS_MAIN(TestCutPlanner)
#include "tst_cutplanner.moc"
