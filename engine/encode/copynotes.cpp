#include "copynotes.h"

#include "streamcopy.h"

QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted, double endSeconds,
                      const QList<int> &streams)
{
    return DescribeCopyStart(
        PredictCopyStart(path, startSeconds, exactWanted, endSeconds, streams));
}
