#include "copynotes.h"

#include "optiontranslator.h"
#include "streamcopy.h"

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
    return TranslateOptions(QString(), job.encode.options, job.output.extension, QString(), media,
                            job.encode.device)
        .notes;
}
