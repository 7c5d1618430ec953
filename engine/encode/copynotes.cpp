#include "copynotes.h"

#include "joinedranges.h"
#include "streamcopy.h"

#include <QStringList>

QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted, double endSeconds)
{
    return DescribeCopyStart(PredictCopyStart(path, startSeconds, exactWanted, endSeconds));
}

QString CopyRangesNote(const QString &path, const QList<CutSpan> &ranges, bool exactWanted)
{
    if (ranges.isEmpty())
        return QString();
    const CutSpan &first = ranges.constFirst();
    QStringList lines;
    if (ranges.size() == 1 || exactWanted) {
        const CopyStart start
            = PredictCopyStart(path, first.startSeconds, exactWanted, first.endSeconds);
        if (ranges.size() == 1 || start.exact)
            return DescribeCopyStart(start);
        if (!start.reason.isEmpty())
            lines << QStringLiteral("No exact cut: %1.").arg(start.reason);
    }
    QString error;
    const QList<CutSpan> saved = KeyFrameRanges(path, ranges, &error);
    if (saved.isEmpty() && !error.isEmpty())
        lines << error;
    for (qsizetype k = 0; k < saved.size(); ++k)
        lines << SavedRangeLine(saved.at(k), k);
    return lines.join(QLatin1Char('\n'));
}
