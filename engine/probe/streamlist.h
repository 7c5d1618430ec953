#pragma once

#include "result.h"
#include "sourcestreams.h"

#include <QList>
#include <QString>

// Reads the streams of a media file with libavformat, opened read-only, in the container's
// order. Cover pictures (attached pictures) are listed as "other": they are no video to cut.
// On failure a sentence that does not repeat the path: SourceUnreadable for a missing file,
// one that is no regular file or no media; SourceDamaged when its streams cannot be read.
Result<QList<SourceStream>> ListStreams(const QString &path);

// The same, for callers that only show the list: empty when the file cannot be read.
QList<SourceStream> ListStreamsOrNone(const QString &path);
