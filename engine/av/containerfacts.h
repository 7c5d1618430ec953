#pragma once

#include <QString>

// What the program needs to know of libavformat's containers by their names, for reading
// (how to seek) and for writing a copy (which muxer writes the same kind of file). Pure.

// True for containers that carry no index of their key frames (MPEG-TS and -PS, raw streams,
// Ogg, ...): libavformat seeks in them by searching timestamps in the byte stream.
bool HasNoSeekIndex(const QString &inputFormatName);

// The muxer that writes the same kind of file as the named input container
// ("mov,mp4,m4a,3gp,3g2,mj2" -> "mp4", "matroska,webm" -> "matroska").
QString MuxerForInputFormat(const QString &inputFormatName);
