#pragma once

#include "devicelimits.h"

#include <QString>

// The values of the cut workflow that several windows read and write. One instance lives in
// the main window for the whole run of the program and is handed to the dialogs by reference.
struct SharedValues
{
    // Start-up
    QString AppFolder; // the program's folder, ending in the path separator
    QString MediaLibraryFolder; // AppFolder + "LibAV"

    // The opened file
    QString InputFilePath; // "" when none is open
    int SourceWidth = 0;
    int SourceHeight = 0;
    bool SourceHasVideo = false;
    bool SourceIsRmvb = false;
    int SourceBitrateKbps = 0;

    // The range to save, in seconds
    double CutStartSeconds = 0.0;
    double CutLengthSeconds = 0.0;

    // The job built by the output dialog
    QString OutputFolder; // ends in the path separator once accepted
    QString OutputFileName; // without folder and extension
    QString OutputExtension; // without the dot
    QString EncoderArguments;
    bool DirectCopyMode = false;
    bool ExactCopyMode = false; // a direct copy cut to the frame
    DeviceLimits OutputDeviceLimits; // of the chosen device preset; none for general formats
    bool ExactCut = true; // the dialog's "Exact cut" box; the "ExactCut" setting
    bool ReplaceAgreed = false; // the user agreed to replace the file at the output path

    bool StopRequested = false;

    // Where the job saves: folder, name and, when there is one, "." and the extension (an
    // input without extension gives a name without a trailing dot).
    QString outputPath() const
    {
        return OutputFolder + OutputFileName
            + (OutputExtension.isEmpty() ? QString() : QLatin1Char('.') + OutputExtension);
    }
};
