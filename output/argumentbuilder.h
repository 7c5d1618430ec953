#pragma once

#include <QString>

#include "devicelimits.h"

class OutputSettingsModel;

// What the builder reads besides the dialog: the opened file and the cut range.
struct BuildInputs
{
    QString InputFilePath;
    int SourceWidth = 0;
    int SourceHeight = 0;
    bool SourceHasVideo = false;
    int SourceBitrateKbps = 0;
    double CutStartSeconds = 0;
    double CutLengthSeconds = 0;
    int AudioChannelCount = 0; // of the probe's audio stream
};

// Working values the dialog keeps from one build to the next.
struct BuilderMemory
{
    int ReferenceBitrateKbps = 0; // the format's reference video bit rate for 320 x 240
    int OutputPixelCount = 0;
};

struct EncoderJob
{
    QString EncoderArguments;
    QString OutputExtension;
    bool DirectCopyMode = false;
    // A direct copy cut to the frame; it travels beside EncoderArguments, which stay as for a
    // key-frame copy.
    bool ExactCopyMode = false;
    // The chosen preset's device limits, which the encoder holds the conversion within; the
    // arguments themselves stay as the preset writes them.
    DeviceLimits Device;
};

// Turns every choice of the dialog into the encoder's option string, the output extension and
// the mode. Pure apart from the memory it updates.
EncoderJob BuildEncoderArguments(const OutputSettingsModel &model, const BuildInputs &in,
                                 BuilderMemory &memory);

// The default video bit rate text ("2000k") from the frame sizes, the source's bit rate, the
// format's reference rate and the video quality; "" for an unknown quality index.
QString ComputeVideoBitrate(const OutputSettingsModel &model, const BuildInputs &in,
                            const BuilderMemory &memory);

// The crop and scale filters, the flips and the rotation as a -vf option, or "".
QString BuildFilterPart(const OutputSettingsModel &model, const BuildInputs &in);
QString BuildCropScale(const OutputSettingsModel &model, const BuildInputs &in);
