#pragma once

#include "cutjob.h"
#include "result.h"

#include <QList>
#include <QString>

// Where the ranges of a job that joins several really lie, before it runs: for telling the user
// and for the chapters of the output. Plain functions on the source file (libavformat), no
// window.

// The ranges a key-frame copy of `ranges` saves, in the same order with their labels: each
// from the key frame at or before its start to the end of the last frame it keeps (the saved
// file holds exactly these frames, joined one after the other). A source without video keeps
// the ranges; an end past the file's end becomes the file's end. An error when the source
// cannot be read (SourceUnreadable, SourceDamaged) or a range holds no video frame
// (NotPossible).
Result<QList<CutSpan>> KeyFrameRanges(const QString &path, const QList<CutSpan> &ranges);

// The line that tells, before a key-frame copy of several segments, where segment `index`
// (from 0) really lies: "Segment 2 (label): 12.000 to 18.480 (key frames)".
QString SavedRangeLine(const CutSpan &saved, qsizetype index);

// Where each range starts in the output of a conversion that joins them, in seconds, and as
// the last entry where the output ends. A range's picture holds the frames that start in it
// (counted on the video's frame grid: its first frame and frame rate), its sound lasts the
// range, and each piece begins where the longer of the two in the one before ends, as ffmpeg's
// concat filter joins them. Without a readable video, the ranges' lengths.
QList<double> ConvertedPieceStarts(const QString &path, const QList<CutSpan> &ranges, bool audio);
