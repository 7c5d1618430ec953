#pragma once

#include "copynote.h"
#include "cutjob.h"

#include <QList>

#include <QString>

// The line that tells the user where a direct copy of the range will really start (one that is
// not exact), or how much of an exact one is re-encoded when that is much; "" otherwise.
// endSeconds -1: to the end of the file. Looks at the file's start of the range only.
QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted,
                      double endSeconds = -1);

// The note of a direct copy of `ranges`, joined in their order: for one range CopyStartNote's
// line; for several, when the copy goes by key frames (Exact cut off, or impossible on this
// source: the first line says why), where each range really lies, one SavedRangeLine a line;
// for an exact copy of several, CopyStartNote's line on the first range.
QString CopyRangesNote(const QString &path, const QList<CutSpan> &ranges, bool exactWanted);
