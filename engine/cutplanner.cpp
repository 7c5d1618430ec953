#include "cutplanner.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kNone = std::numeric_limits<qint64>::min();

// The last packet at or before packet `before` (in decoding order) that shows at or before
// `pts` and where decoding can begin: where a decoder starts to show that frame.
int decodeStartFor(const QList<CutFrame> &frames, int before, qint64 pts)
{
    for (int i = std::min<int>(before, int(frames.size()) - 1); i >= 0; --i) {
        if (frames.at(i).startsDecoding() && frames.at(i).pts <= pts)
            return i;
    }
    return -1;
}

qint64 latestPts(const QList<CutFrame> &frames, const QList<int> &packets)
{
    qint64 latest = kNone;
    for (const int i : packets)
        latest = std::max(latest, frames.at(i).pts);
    return latest;
}

// The edge that shows the given frames (packet numbers).
bool makeEdge(const QList<CutFrame> &frames, const QList<int> &shown, qint64 fromPts, qint64 toPts,
              CutPlan::Edge *edge)
{
    if (shown.isEmpty())
        return true;
    int first = std::numeric_limits<int>::max();
    int last = -1;
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const int i : shown) {
        first = std::min(first, i);
        last = std::max(last, i);
        earliest = std::min(earliest, frames.at(i).pts);
    }
    edge->decodeFrom = decodeStartFor(frames, first, earliest);
    if (edge->decodeFrom < 0)
        return false;
    edge->decodeTo = last;
    edge->fromPts = fromPts;
    edge->toPts = toPts;
    edge->frames = int(shown.size());
    return true;
}

} // namespace

CutPlan PlanCut(const QList<CutFrame> &frames, qint64 startPts, qint64 endPts, bool exact)
{
    CutPlan plan;
    const int n = int(frames.size());
    if (n == 0) {
        plan.error = QStringLiteral("The source has no video frames in the range.");
        return plan;
    }
    // The frame shown at the start: the first one that begins at or after it. An exact seek of
    // the player shows that frame at that time, and a conversion of the range begins with it.
    qint64 zero = kNone;
    for (const CutFrame &f : frames) {
        if (f.pts >= startPts && (zero == kNone || f.pts < zero))
            zero = f.pts;
    }
    if (zero == kNone || zero >= endPts) {
        plan.error = QStringLiteral("The range holds no video frame.");
        return plan;
    }
    plan.endPts = endPts;

    if (!exact) {
        const int key = decodeStartFor(frames, n - 1, zero);
        if (key < 0) {
            plan.error = QStringLiteral("No key frame at or before the start.");
            return plan;
        }
        plan.zeroPts = frames.at(key).pts;
        for (int i = key; i < n; ++i) {
            if (frames.at(i).pts >= plan.zeroPts && frames.at(i).pts < endPts)
                plan.copyTo = i;
        }
        if (plan.copyTo < 0) {
            plan.error = QStringLiteral("The range holds no video frame.");
            return plan;
        }
        plan.copyFrom = key;
        // The last copied frame may be a reference shown after frames that come later in
        // decoding order: those are copied too, so that no frame is missing before it.
        for (bool grown = true; grown;) {
            grown = false;
            qint64 shown = kNone;
            for (int i = key; i <= plan.copyTo; ++i) {
                if (frames.at(i).pts >= plan.zeroPts)
                    shown = std::max(shown, frames.at(i).pts);
            }
            for (int i = plan.copyTo + 1; i < n && !frames.at(i).startsDecoding(); ++i) {
                if (frames.at(i).pts < shown) {
                    plan.copyTo = i;
                    grown = true;
                }
            }
        }
        for (int i = key + 1; i <= plan.copyTo; ++i) {
            if (frames.at(i).pts < plan.zeroPts)
                plan.skipped << i; // shown before the key frame: needs what came before it
        }
        plan.lastPacket = plan.copyTo;
        plan.ok = true;
        return plan;
    }

    plan.zeroPts = zero;
    auto inRange = [&](int i) { return frames.at(i).pts >= zero && frames.at(i).pts < endPts; };

    // The first clean packet that shows inside the range starts the copy.
    int key = -1;
    for (int i = 0; i < n && key < 0; ++i) {
        if (frames.at(i).clean && inRange(i))
            key = i;
    }
    // copied: a run in decoding order from the key, less its leading pictures.
    QList<int> copied;
    QList<int> leading;
    std::vector<char> isCopied(size_t(n), 0);
    if (key >= 0) {
        int nextKey = n;
        for (int i = key + 1; i < n; ++i) {
            if (frames.at(i).clean) {
                nextKey = i;
                break;
            }
        }
        for (int i = key; i < n; ++i) {
            if (i > key && i < nextKey && frames.at(i).pts < frames.at(key).pts) {
                leading << i;
                continue;
            }
            if (!inRange(i))
                break; // every later packet may refer to this one
            copied << i;
            isCopied[size_t(i)] = 1;
        }
        // Frames in the range that the copy leaves out must all be shown after the copied
        // ones, or the re-encoded tail could not follow the copy: shorten the copy until
        // they are.
        qint64 missedEarliest = std::numeric_limits<qint64>::max();
        for (int i = key; i < n; ++i) {
            if (inRange(i) && frames.at(i).pts >= frames.at(key).pts && !isCopied[size_t(i)])
                missedEarliest = std::min(missedEarliest, frames.at(i).pts);
        }
        while (!copied.isEmpty() && latestPts(frames, copied) >= missedEarliest) {
            const int dropped = copied.takeLast();
            isCopied[size_t(dropped)] = 0;
            missedEarliest = std::min(missedEarliest, frames.at(dropped).pts);
        }
    }

    QList<int> head;
    QList<int> tail;
    const qint64 copyStart = copied.isEmpty() ? kNone : frames.at(key).pts;
    const qint64 copyEnd = copied.isEmpty() ? kNone : latestPts(frames, copied);
    for (int i = 0; i < n; ++i) {
        if (!inRange(i) || isCopied[size_t(i)])
            continue;
        if (copied.isEmpty() || frames.at(i).pts < copyStart)
            head << i;
        else
            tail << i;
    }
    if (!makeEdge(frames, head, zero, copied.isEmpty() ? endPts : copyStart, &plan.head)
        || !makeEdge(frames, tail, copyEnd + 1, endPts, &plan.tail)) {
        plan.error = QStringLiteral("No key frame to decode the edges of the range from.");
        return plan;
    }
    if (head.isEmpty() && copied.isEmpty()) {
        plan.error = QStringLiteral("The range holds no video frame.");
        return plan;
    }
    if (!copied.isEmpty()) {
        plan.copyFrom = copied.first();
        plan.copyTo = copied.last();
        for (const int i : leading) {
            if (i < plan.copyTo)
                plan.skipped << i;
        }
    }
    plan.lastPacket = std::max({ plan.copyTo, plan.head.decodeTo, plan.tail.decodeTo });
    plan.ok = true;
    return plan;
}
