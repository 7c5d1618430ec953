#pragma once

#include "optiontranslator.h"

#include <QList>
#include <QStringList>

// One conversion by the ffmpeg program that saves several ranges of one input, joined in the
// order given. Each range is an input of its own (the same file, entered where that range's
// job would enter it, so that no range costs decoding what comes before it and no frame waits
// in memory for an earlier one), trimmed exactly as a job of that one range would be: the
// first frame at or after its start becomes its first, the last one before its end its last,
// the audio cut to the sample with it. The concat filter then joins the pieces: the sound runs
// on without a gap, every frame is shown once, and picture and sound stay within a frame of
// each other after every join; the video filters of the job (scaling, cropping) act on
// each piece before the join, other audio filters after it.
struct RangeJoin
{
    // Everything between the program's global options and the output path: the inputs, the
    // filter graph, the maps and the output options.
    QStringList args;
};

// The input streams a join takes, as stream specifiers of ffmpeg's ("v:0", or "3" for the
// stream of index 3): one video and the audio streams, each joined on its own.
struct JoinStreams
{
    QString video = QStringLiteral("v:0");
    QStringList audio { QStringLiteral("a:0") };
};

// `ranges` are the translations of the job for each range (TranslateOptions with that range's
// -TimeStart and -TimeLength); `inputUrl` is the input as ffmpeg takes it. `audio` tells whether
// the input has a sound track to join (ffmpeg's pick of one); `streams` which of its streams
// are joined. The error (NotPossible) says why the ranges cannot be joined.
Result<RangeJoin> JoinRanges(const QString &inputUrl, const QList<TranslatedOptions> &ranges,
                             bool audio, const JoinStreams &streams = JoinStreams());

// A chapter of a joined output, in seconds of the output.
struct JoinChapter
{
    double startSeconds = 0;
    double endSeconds = 0;
    QString title; // "": none
};

// The chapters as an ffmpeg metadata file (";FFMETADATA1", times in microseconds, the
// characters the format reserves escaped).
QString ChapterMetadata(const QList<JoinChapter> &chapters);

// Gives the output of a join of `rangeCount` ranges these chapters and no other: their
// metadata becomes one more input, carried in the argument itself as a data: URL (nothing
// to write beforehand or remove afterwards), and the output takes its chapters from it alone.
void AddJoinChapters(RangeJoin *join, qsizetype rangeCount, const QList<JoinChapter> &chapters);
