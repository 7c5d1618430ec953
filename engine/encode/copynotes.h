#pragma once

#include "copynote.h"
#include "cutjob.h"
#include "sourcestreams.h"

#include <QList>
#include <QString>
#include <QStringList>

// The line that tells the user where a direct copy of the range will really start (one that is
// not exact), or how much of an exact one is re-encoded when that is much; "" otherwise.
// endSeconds -1: to the end of the file. Looks at the file's start of the range only. With
// streams chosen (by index) that leave the video out: "".
QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted,
                      double endSeconds = -1, const QList<int> &streams = {});

// The note of a direct copy of `ranges`, joined in their order: for one range CopyStartNote's
// line; for several, when the copy goes by key frames (Exact cut off, or impossible on this
// source: the first line says why), where each range really lies, one SavedRangeLine a line;
// for an exact copy of several, CopyStartNote's line on the first range. streams as for
// CopyStartNote.
QString CopyRangesNote(const QString &path, const QList<CutSpan> &ranges, bool exactWanted,
                       const QList<int> &streams = {});

// What a conversion of the job will say, before it runs, of the chosen tracks its format
// cannot keep ("keeps one audio track: AVI holds one"), as the translation of its options says
// it; streams are the source's. Nothing for a copy or where no tracks were chosen.
QStringList ConversionTrackNotes(const CutJob &job, const QList<SourceStream> &streams);
