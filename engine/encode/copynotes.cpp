#include "copynotes.h"

#include "joinedranges.h"
#include "optiontranslator.h"
#include "streamcopy.h"

#include <QStringList>

QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted, double endSeconds,
                      const QList<int> &streams)
{
    return DescribeCopyStart(
        PredictCopyStart(path, startSeconds, exactWanted, endSeconds, streams));
}

QStringList ConversionTrackNotes(const CutJob &job, const QList<SourceStream> &streams)
{
    if (job.isCopy() || job.streams.isEmpty())
        return {};
    SourceMedia media;
    media.videoStreams = media.audioStreams = 0;
    for (const SourceStream &s : streams) {
        if (!job.streams.contains(s.index))
            continue;
        media.chosen << s;
        if (s.kind == SourceStream::Kind::Video && media.videoStreams++ == 0) {
            media.width = s.width;
            media.height = s.height;
        } else if (s.kind == SourceStream::Kind::Audio && media.audioStreams++ == 0) {
            media.audioChannels = s.channels;
            media.sampleRate = s.sampleRate;
        }
    }
    const Result<TranslatedOptions> translated = TranslateOptions(
        QString(), job.encode.options, job.output.extension, QString(), media, job.encode.device);
    return translated ? translated.value().notes : QStringList();
}

QString CopyRangesNote(const QString &path, const QList<CutSpan> &ranges, bool exactWanted,
                       const QList<int> &streams)
{
    if (ranges.isEmpty())
        return QString();
    const CutSpan &first = ranges.constFirst();
    QStringList lines;
    if (ranges.size() == 1 || exactWanted) {
        const CopyStart start
            = PredictCopyStart(path, first.startSeconds, exactWanted, first.endSeconds, streams);
        if (ranges.size() == 1 || start.exact)
            return DescribeCopyStart(start);
        if (!start.reason.isEmpty())
            lines << QStringLiteral("No exact cut: %1.").arg(start.reason);
    }
    const Result<QList<CutSpan>> saved = KeyFrameRanges(path, ranges);
    if (!saved)
        lines << saved.error().sentence;
    else
        for (qsizetype k = 0; k < saved.value().size(); ++k)
            lines << SavedRangeLine(saved.value().at(k), k);
    return lines.join(QLatin1Char('\n'));
}
