#pragma once

#include "sourcestreams.h"

#include <QList>
#include <QString>

// Reads the streams of a media file with libavformat, opened read-only, in the container's
// order. Cover pictures (attached pictures) are listed as "other": they are no video to cut.
// On failure returns false with a sentence in *error that does not repeat the path.
bool ListStreams(const QString &path, QList<SourceStream> *streams, QString *error);

// The same, for callers that only show the list: empty when the file cannot be read.
QList<SourceStream> ListStreams(const QString &path);
