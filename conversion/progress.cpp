#include "progress.h"

#include "timecode.h"

#include <cmath>

namespace {

constexpr double kLeastFraction = 0.01;

} // namespace

QString FormatMegabytes(double megabytes)
{
    const qint64 tenths = RoundHalfEven(megabytes * 10.0);
    const qint64 whole = tenths / 10;
    const int decimal = int(std::llabs(tenths % 10));
    QString digits = QString::number(std::llabs(whole));
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return (tenths < 0 ? QStringLiteral("-") : QString()) + digits + QLatin1Char('.')
        + QString::number(decimal);
}

ProgressUpdate ComputeProgress(qint64 bytes, qint64 position, qint64 duration, double now,
                               double clockStart)
{
    ProgressUpdate u;
    if (duration == 0 || position <= 0 || duration < 0 || bytes < 0)
        return u; // a fraction, remaining time or size that cannot be computed
    const double fraction = double(position) / double(duration);
    // The first packets carry the headers and only a sliver of the range: figures taken from
    // them run wild (megabytes estimated for a file of kilobytes), so they wait for 1 %.
    if (fraction < kLeastFraction)
        return u;
    const double elapsed = now - clockStart;
    const double remaining = elapsed / fraction - elapsed;
    const double estimate = double(bytes) / fraction;
    if (!std::isfinite(fraction) || !std::isfinite(remaining) || !std::isfinite(estimate)
        || estimate < 0 || estimate > 9.0e18)
        return u;
    u.ok = true;
    u.elapsed = FormatTimeCode(elapsed);
    u.remaining = FormatTimeCode(remaining);
    // 64-bit byte counts, so that outputs past 2 GiB show their size.
    u.estimatedSize
        = FormatMegabytes(BytesToMegabytes(RoundHalfEven(estimate))) + QStringLiteral(" MB");
    if (duration > 0) {
        u.hasPercent = true;
        u.percent = int(std::clamp(std::trunc(fraction * 100.0), 0.0, 100.0));
    }
    return u;
}
