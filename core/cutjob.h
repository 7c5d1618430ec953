#pragma once

#include "devicelimits.h"

#include <QList>
#include <QString>

// A stretch of the source to save, in seconds from the start of the file as the player shows
// it. A range is usable when it ends after it starts. Its label names the range's chapter when
// several are saved joined; two spans are equal when their times and labels are.
struct CutSpan
{
    double startSeconds = 0;
    double endSeconds = 0;
    QString label;

    double lengthSeconds() const { return endSeconds - startSeconds; }
    bool operator==(const CutSpan &) const = default;
};

// The chapter title of the range at `index` of a joined output: its label, else "Segment N"
// (N counted from 1), the name snipora-cut gives it too.
QString ChapterTitleOf(const QList<CutSpan> &ranges, qsizetype index);

// How the range is saved: copied with every stream, cut to the frame (the frames that cannot
// be copied are encoded anew) or from the key frame at or before the start; or converted by
// the ffmpeg program.
enum class CutMode { ExactCopy, KeyFrameCopy, Convert };

// The mode of a direct copy (exact or not), or a conversion.
CutMode CutModeOf(bool directCopy, bool exact);

// What a job knows of its source, from the probe made when the file was opened.
struct CutSource
{
    QString path; // absolute
    int width = 0; // of the picture; 0 without video
    int height = 0;
    bool hasVideo = false;
    int bitrateKbps = 0; // estimated from the size and the duration
    int channelCount = 0; // of the audio stream ffmpeg picks; 0 without audio
    double durationSeconds = -1; // -1 when unknown
};

// The encoding a job asks for, as the output dialog (or snipora-cut) built it.
struct EncodeSpec
{
    // The encoder options in the program's dialect, exactly as the builder writes them; a
    // direct copy has them too (codecs "copy" and the range), and the encoder translates them
    // once per job.
    QString options;
    DeviceLimits device; // of the chosen device preset; none for the general formats
};

// Where a job saves.
struct CutOutput
{
    QString folder; // ends in the path separator once accepted
    QString name; // without folder and extension
    QString extension; // without the dot; "" for a copy of an input without extension
};

// One cut job, complete: what to read, which ranges, how, and where to write. A value: it is
// built whole by the output dialog or snipora-cut and read by the job start.
struct CutJob
{
    CutSource source;
    QList<CutSpan> ranges; // in the order they are saved
    CutMode mode = CutMode::Convert;
    EncodeSpec encode;
    CutOutput output;
    // The source's stream indexes to keep; empty: every stream for a copy, ffmpeg's pick for
    // a conversion.
    QList<int> streams;
    bool replaceAllowed = false; // the user agreed to replace the file at the output path

    bool isCopy() const { return mode != CutMode::Convert; }
    // Where the first range starts; 0 without ranges.
    double startSeconds() const { return ranges.isEmpty() ? 0 : ranges.constFirst().startSeconds; }
    // Folder, name and, when there is one, "." and the extension: an input without extension
    // gives a name without a trailing dot.
    QString outputPath() const;
    // Whether saving at outputPath() would overwrite the source itself (see SameFile()).
    bool outputIsInput() const;
};

// Two paths name the same file: compared as canonical paths where the file exists, else as the
// canonical folder plus the name; so a link, "..", or a second spelling of the source's path is
// found to be the source.
bool SameFile(const QString &a, const QString &b);
