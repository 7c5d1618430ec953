#pragma once

#include <QList>
#include <QString>

// A note a direct copy makes about its result: its kind, given by the copy where it writes the
// note, so that a caller picks the notes it shows without reading their wording; and the
// sentence for the user.
struct CopyNote
{
    enum class Kind {
        NotExact, // the copy could not be cut to the frame, and why
        StartReencoded, // how much of the start was encoded anew
        KeyFrameStart, // the copy starts on a key frame before the start
        StreamLeftOut, // a stream the output container cannot carry
        LevelHeld, // what the codec level made of the re-encoded frames
        HeaderRepeated, // the re-encoded frames declare a sequence header of their own
    };
    Kind kind;
    QString text;
};

using CopyNotes = QList<CopyNote>;
