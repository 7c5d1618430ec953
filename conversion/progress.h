#pragma once

#include <QString>

// The figures a conversion shows for one progress event. Pure: the caller keeps the clock.
struct ProgressUpdate
{
    bool ok = false; // false: nothing is shown for this event
    QString elapsed; // time code
    QString remaining; // time code
    QString estimatedSize; // "1,234.5 MB"
    bool hasPercent = false;
    int percent = 0; // 0..100, when the duration is known
};

// bytes written, position and duration in one unit, now and the run's clock start in seconds.
// The elapsed time, remaining time and estimated size are computed together: when any of them
// cannot be (position 0, duration 0, an estimate out of range) the event shows nothing. Below
// 1 % of the duration the estimates are noise, and the event shows nothing either.
ProgressUpdate ComputeProgress(qint64 bytes, qint64 position, qint64 duration, double now,
                               double clockStart);

// "#,##0.0" with "," grouping and "." before the one decimal: 1234.56 -> "1,234.6".
QString FormatMegabytes(double megabytes);
