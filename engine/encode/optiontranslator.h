#pragma once

#include <QString>
#include <QStringList>

#include "devicelimits.h"
#include "result.h"
#include "sourcestreams.h"

// Turns the program's option dialect into arguments that today's ffmpeg accepts. The dialect
// is ffmpeg command-line syntax as older ffmpeg releases understood it, plus "-TimeStart S"
// (where reading of the input begins) and "-TimeLength L" (seconds of output). The
// translation is a list of named rules (in the .cpp file), each with the reason it exists; it
// is pure apart from asking libavcodec and libavformat what their encoders and muxers accept.
// A job that would still make ffmpeg refuse after the rules is refused here, with one
// sentence that names the setting to change.

// Splits an option string at blanks; a double-quoted run is one token without its quotes. An
// unbalanced quote is an error (BadRequest).
Result<QStringList> TokenizeOptions(const QString &options);

// What the translation knows of the input, from a probe of it. Zero (or -1 for the counts)
// where it is unknown; the rules then assume nothing about it.
struct SourceMedia
{
    int videoStreams = -1;
    int audioStreams = -1;
    int width = 0; // of the video stream ffmpeg picks
    int height = 0;
    double frameRate = 0; // its frames a second
    int audioChannels = 0; // of the audio stream ffmpeg picks
    int sampleRate = 0;
    // The streams the user chose, in the source's order; empty: ffmpeg's pick. The counts and
    // the facts above then describe these streams (the first chosen video and audio).
    QList<SourceStream> chosen;
};

struct TranslatedOptions
{
    QStringList inputArgs; // before "-i input"
    QStringList outputArgs; // after "-i input", before the output path
    double startSeconds = 0; // where reading begins (0 when not given)
    double lengthSeconds = -1; // seconds of output, -1 when not limited
    bool copiesVideo = false; // the video stream is copied, not encoded
    // Seconds the decoder drops after the input seek before the range begins (containers
    // without a seek index are entered early); 0 when the seek lands on the start.
    double decoderSkipSeconds = 0;
    // What the user should know of the result: chosen tracks the format cannot hold.
    QStringList notes;
};

// outputExtension is the output file's extension without the dot (it decides ffmpeg's muxer);
// inputFormatName is libavformat's name of the input's container, used to choose the muxer
// when the output has no extension and the way to seek. source describes the input's streams;
// device the limits of the device a preset is made for (none for general formats).
// The error is BadRequest for options that make no sense, NotPossible for what the format
// cannot hold.
Result<TranslatedOptions> TranslateOptions(const QString &inputOptions,
                                           const QString &outputOptions,
                                           const QString &outputExtension,
                                           const QString &inputFormatName,
                                           const SourceMedia &source = SourceMedia(),
                                           const DeviceLimits &device = DeviceLimits());
