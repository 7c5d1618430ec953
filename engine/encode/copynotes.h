#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a direct copy tells about its result, sorted so that a caller picks the notes it shows
// without reading their wording.
struct CopyNote
{
    enum class Kind {
        NotExact, // the copy could not be cut to the frame, and why
        StartReencoded, // how much of the start was encoded anew
        KeyFrameStart, // the copy starts on a key frame before the start
        StreamLeftOut, // a stream the output container cannot carry
        LevelHeld, // what the codec level made of the re-encoded frames
        Other,
    };
    Kind kind = Kind::Other;
    QString text;
};

// The copy's notes with their kinds, in their order.
QList<CopyNote> ClassifyCopyNotes(const QStringList &notes);

// The line that tells the user where a direct copy of the range will really start (one that is
// not exact), or how much of an exact one is re-encoded when that is much; "" otherwise.
// endSeconds -1: to the end of the file. Looks at the file's start of the range only.
QString CopyStartNote(const QString &path, double startSeconds, bool exactWanted,
                      double endSeconds = -1);
