#include "cutplanner.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kNone = std::numeric_limits<qint64>::min();
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

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

// The edge that shows the given frames (packet numbers, in decoding order).
bool makeEdge(const QList<CutFrame> &frames, const std::vector<int> &shown, qint64 fromPts,
              qint64 toPts, CutPlan::Edge *edge)
{
    if (shown.empty())
        return true;
    qint64 earliest = kMax;
    for (const int i : shown)
        earliest = std::min(earliest, frames.at(i).pts);
    edge->decodeFrom = decodeStartFor(frames, shown.front(), earliest);
    if (edge->decodeFrom < 0)
        return false;
    edge->decodeTo = shown.back();
    edge->fromPts = fromPts;
    edge->toPts = toPts;
    edge->frames = int(shown.size());
    return true;
}

// The packets a copy from `key` carries, in decoding order: a run from the key frame less its
// leading pictures (shown before it, they need what came before it), up to the first packet
// shown outside [key's time, endPts) - every later packet may refer to that one - and then
// shortened until every frame of the range it leaves out is shown after all that it carries,
// so that the frames shown form one run with none missing. `leading` gets the leading
// pictures inside the run. Linear in the number of packets.
std::vector<int> copyRun(const QList<CutFrame> &frames, int key, bool cleanOnly, qint64 endPts,
                         std::vector<int> *leading)
{
    const int n = int(frames.size());
    const qint64 from = frames.at(key).pts;
    int nextKey = n;
    for (int i = key + 1; i < n; ++i) {
        if (cleanOnly ? frames.at(i).clean : frames.at(i).startsDecoding()) {
            nextKey = i;
            break;
        }
    }
    std::vector<int> run;
    std::vector<int> skipped;
    int i = key;
    for (; i < n; ++i) {
        const qint64 t = frames.at(i).pts;
        if (i > key && i < nextKey && t < from) {
            skipped.push_back(i);
            continue;
        }
        if (t < from || t >= endPts)
            break;
        run.push_back(i);
    }
    // The earliest frame of the range (from the key frame's time on) after the run.
    qint64 missed = kMax;
    for (; i < n; ++i) {
        const qint64 t = frames.at(i).pts;
        if (t >= from && t < endPts)
            missed = std::min(missed, t);
    }
    // The longest prefix whose latest frame is shown before every frame it leaves out.
    std::vector<qint64> laterEarliest(run.size() + 1, missed);
    for (size_t k = run.size(); k-- > 0;)
        laterEarliest[k] = std::min(laterEarliest[k + 1], frames.at(run[k]).pts);
    size_t keep = 0;
    qint64 latest = kNone;
    for (size_t k = 0; k < run.size(); ++k) {
        latest = std::max(latest, frames.at(run[k]).pts);
        if (latest < laterEarliest[k + 1])
            keep = k + 1;
    }
    run.resize(keep);
    if (leading) {
        leading->clear();
        for (const int s : skipped) {
            if (!run.empty() && s < run.back())
                leading->push_back(s);
        }
    }
    return run;
}

} // namespace

bool CutPlan::copies(int packet) const
{
    return packet >= copyFrom && packet <= copyTo
        && !std::binary_search(skipped.begin(), skipped.end(), packet);
}

namespace {

// The frame shown at the start: the first one that begins at or after it. An exact seek of the
// player shows that frame at that time, and a conversion of the range begins with it.
qint64 firstShown(const QList<CutFrame> &frames, qint64 startPts)
{
    qint64 zero = kNone;
    for (const CutFrame &f : frames) {
        if (f.pts >= startPts && (zero == kNone || f.pts < zero))
            zero = f.pts;
    }
    return zero;
}

// From the key frame at or before the start, to the last frame that starts before the end and
// can be shown without a frame shown at or after it.
// The last clean packet that shows at or before `pts`.
int cleanStartFor(const QList<CutFrame> &frames, qint64 pts)
{
    for (int i = int(frames.size()) - 1; i >= 0; --i) {
        if (frames.at(i).clean && frames.at(i).pts <= pts)
            return i;
    }
    return -1;
}

void planKeyFrameCopy(const QList<CutFrame> &frames, qint64 zero, bool cleanStart, CutPlan &plan)
{
    const int key = cleanStart ? cleanStartFor(frames, zero)
                               : decodeStartFor(frames, int(frames.size()) - 1, zero);
    if (key < 0) {
        plan.error = QStringLiteral("No key frame at or before the start.");
        return;
    }
    plan.zeroPts = frames.at(key).pts;
    std::vector<int> leading;
    const std::vector<int> run = copyRun(frames, key, false, plan.endPts, &leading);
    if (run.empty()) {
        plan.error = QStringLiteral("The range holds no video frame.");
        return;
    }
    plan.copyFrom = run.front();
    plan.copyTo = run.back();
    plan.skipped = QList<int>(leading.begin(), leading.end());
    plan.lastPacket = plan.copyTo;
    plan.ok = true;
}

// The frames of the range that are not copied: before the copy's first frame (the head) or
// after it (the tail).
void splitEdges(const QList<CutFrame> &frames, const std::vector<int> &copied, qint64 copyStart,
                qint64 zero, qint64 endPts, std::vector<int> *head, std::vector<int> *tail)
{
    const int n = int(frames.size());
    std::vector<char> isCopied(size_t(n), 0);
    for (const int i : copied)
        isCopied[size_t(i)] = 1;
    for (int i = 0; i < n; ++i) {
        const qint64 t = frames.at(i).pts;
        if (t < zero || t >= endPts || isCopied[size_t(i)])
            continue;
        if (copied.empty() || t < copyStart)
            head->push_back(i);
        else
            tail->push_back(i);
    }
}

void planExact(const QList<CutFrame> &frames, qint64 zero, CutPlan &plan)
{
    const qint64 endPts = plan.endPts;
    plan.zeroPts = zero;
    // The first clean packet that shows inside the range starts the copy.
    int key = -1;
    for (int i = 0; i < int(frames.size()) && key < 0; ++i) {
        if (frames.at(i).clean && frames.at(i).pts >= zero && frames.at(i).pts < endPts)
            key = i;
    }
    std::vector<int> leading;
    std::vector<int> copied;
    if (key >= 0)
        copied = copyRun(frames, key, true, endPts, &leading);
    const qint64 copyStart = copied.empty() ? kNone : frames.at(key).pts;
    qint64 copyEnd = kNone;
    for (const int i : copied)
        copyEnd = std::max(copyEnd, frames.at(i).pts);
    std::vector<int> head;
    std::vector<int> tail;
    splitEdges(frames, copied, copyStart, zero, endPts, &head, &tail);
    if (!makeEdge(frames, head, zero, copied.empty() ? endPts : copyStart, &plan.head)
        || !makeEdge(frames, tail, copyEnd + 1, endPts, &plan.tail)) {
        plan.error = QStringLiteral("No key frame to decode the edges of the range from.");
        return;
    }
    if (head.empty() && copied.empty()) {
        plan.error = QStringLiteral("The range holds no video frame.");
        return;
    }
    if (!copied.empty()) {
        plan.copyFrom = copied.front();
        plan.copyTo = copied.back();
        plan.skipped = QList<int>(leading.begin(), leading.end());
    }
    plan.lastPacket = std::max({ plan.copyTo, plan.head.decodeTo, plan.tail.decodeTo });
    plan.ok = true;
}

} // namespace

CutPlan PlanCut(const QList<CutFrame> &frames, qint64 startPts, qint64 endPts, bool exact,
                bool cleanStart)
{
    CutPlan plan;
    if (frames.isEmpty()) {
        plan.error = QStringLiteral("The source has no video frames in the range.");
        return plan;
    }
    const qint64 zero = firstShown(frames, startPts);
    if (zero == kNone || zero >= endPts) {
        plan.error = QStringLiteral("The range holds no video frame.");
        return plan;
    }
    plan.endPts = endPts;
    if (exact)
        planExact(frames, zero, plan);
    else
        planKeyFrameCopy(frames, zero, cleanStart, plan);
    return plan;
}
