#pragma once

#include "cutjob.h"
#include "segmentlist.h"

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

    // The ranges of a cut of the segment list, in the order they are saved, with their labels;
    // empty for a cut of the marks' range. With OneFileEach each is saved to a file of its own.
    QList<Segment> Segments;
    bool OneFileEach = false;
    // With OneFileEach, the dialog's job for each segment's file (else empty).
    QList<CutJob> EachJobs;

    // The job the output dialog built at its last OK. Its output folder is also the
    // destination remembered between runs (the "OutPath" setting), read at start-up.
    CutJob Job;
    bool ExactCut = true; // the dialog's "Exact cut" box; the "ExactCut" setting

    bool StopRequested = false;

    // Where the job saves (see CutJob::outputPath()).
    QString outputPath() const { return Job.outputPath(); }
};
