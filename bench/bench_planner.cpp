// How the cut plan's time grows with the source: plans of 200 000 and 1 600 000 frames (eight
// times as many), the least thread processor time of RUNS plans each, and their ratio. Linear
// work gives about 8 (up to about 18 where the small plan fits the processor's cache and the
// large one does not); quadratic work gives 64.
// Usage: bench_planner [RUNS]
#include "cutplanner.h"
#include "plannerframes.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>

namespace {

qint64 threadNanos()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The least processor time this thread spent on one plan over `runs` plans (nanoseconds).
qint64 planTime(const QList<CutFrame> &frames, bool exact, int runs)
{
    qint64 best = std::numeric_limits<qint64>::max();
    const qint64 n = frames.size();
    for (int run = 0; run < runs; ++run) {
        const qint64 before = threadNanos();
        const CutPlan plan = PlanCut(frames, n / 10 + 3, n - n / 10 + 5, exact);
        best = std::min(best, threadNanos() - before);
        if (!plan.ok)
            return -1;
    }
    return std::max<qint64>(best, 1);
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    struct Row
    {
        const char *name;
        int gop;
        int bFrames;
        bool open;
        bool exact;
    };
    const Row rows[] = {
        { "closed GOPs of 25, exact", 25, 2, false, true },
        { "closed GOPs of 25, key frame copy", 25, 2, false, false },
        { "open GOPs of 50, exact", 50, 3, true, true },
        { "one key frame, exact", 0, 0, false, true },
        { "key frames 10 000 apart, exact", 10000, 2, false, true },
    };
    std::printf("| Source | 200k frames (ms) | 1.6M frames (ms) | Ratio |\n|---|---|---|---|\n");
    for (const Row &row : rows) {
        const auto frames = [&](int count) {
            return makeFrames(count, row.gop == 0 ? count : row.gop, row.bFrames, row.open);
        };
        const qint64 small = planTime(frames(200000), row.exact, runs);
        const qint64 large = planTime(frames(1600000), row.exact, runs);
        if (small < 0 || large < 0) {
            std::fprintf(stderr, "%s: no plan\n", row.name);
            return 1;
        }
        std::printf("| %s | %.2f | %.2f | %.1f |\n", row.name, small / 1e6, large / 1e6,
                    double(large) / double(small));
    }
    return 0;
}
