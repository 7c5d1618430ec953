#include "cutjob.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString identityPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

QString ChapterTitleOf(const QList<CutSpan> &ranges, qsizetype index)
{
    const QString label
        = index >= 0 && index < ranges.size() ? ranges.at(index).label.trimmed() : QString();
    return label.isEmpty() ? QStringLiteral("Segment %1").arg(index + 1) : label;
}

CutMode CutModeOf(bool directCopy, bool exact)
{
    if (!directCopy)
        return CutMode::Convert;
    return exact ? CutMode::ExactCopy : CutMode::KeyFrameCopy;
}

QString CutJob::outputPath() const
{
    return output.folder + output.name
        + (output.extension.isEmpty() ? QString() : QLatin1Char('.') + output.extension);
}

bool CutJob::outputIsInput() const
{
    return !source.path.isEmpty() && SameFile(outputPath(), source.path);
}

bool SameFile(const QString &a, const QString &b)
{
    return identityPath(a) == identityPath(b);
}
