#pragma once

#include <QObject>
#include <QString>

#include "cutjob.h"
#include "devicelimits.h"

// Runs one conversion job in the background: inputs with input options, an output with
// output options in the program's option dialect (ffmpeg syntax plus "-TimeStart" and
// "-TimeLength"). All calls and signals happen on the UI thread.
//
// The output is written to a temporary file beside it and renamed into place only after a
// successful run: a stopped or failed job leaves no partial file and leaves an existing file
// untouched. A file at the output path is replaced only with the user's consent.
class Encoder : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Encoder() override = default;

    virtual bool isLibraryLoaded() const = 0;
    virtual bool loadLibrary(const QString &folder) = 0;

    virtual void clearJobs() = 0;
    // Input index, or -1 when the file cannot be opened (see lastErrorText()).
    virtual int addInputFile(const QString &path, const QString &options) = 0;
    // 0 or more on success, -1 when the output cannot be set up.
    virtual int addOutputFile(int inputIndex, const QString &path, const QString &options) = 0;
    virtual void removeInputFile(int inputIndex) = 0;
    // Starts the job; the outcome arrives as encoderFinished().
    virtual bool startEncoding() = 0;
    // Ends a running job; harmless when none runs. A stop is never reported as success.
    virtual void stopEncoding() = 0;
    virtual bool isRunning() const = 0;
    // Whether a direct copy (video and audio codec "copy") set up afterwards cuts to the frame,
    // re-encoding the frames before the first key frame and after the last one it can copy
    // (true, the default), or starts on the key frame at or before the start.
    virtual void setExactCopy(bool exact) { Q_UNUSED(exact); }
    // How the output set up afterwards is saved: a copy (exact or from a key frame) runs
    // in-process, a conversion by the encoder program. Until it is told, and after
    // clearJobs(), an encoder takes a job whose options copy the video (codec "copy") for a
    // direct copy, exact as setExactCopy() says.
    virtual void setCutMode(CutMode mode) { Q_UNUSED(mode); }
    // Two ranges or more: the output set up afterwards holds these ranges of the input, joined
    // in this order, instead of the one range its options give. Fewer: the options' range.
    // Cleared by clearJobs().
    virtual void setRanges(const QList<CutSpan> &ranges) { Q_UNUSED(ranges); }
    // The source's streams (by index) the output set up afterwards keeps; empty: every stream
    // for a copy, ffmpeg's pick for a conversion. Cleared by clearJobs().
    virtual void setStreams(const QList<int> &streams) { Q_UNUSED(streams); }
    // The limits of the device a preset is made for; an output set up afterwards is held
    // within them (a larger frame is scaled down to fit, a higher rate lowered).
    virtual void setDeviceLimits(const DeviceLimits &limits) { Q_UNUSED(limits); }
    virtual QString lastErrorText() const = 0;

    // Consent to replace: whether the next job may replace a file at its output path (the user
    // agreed, in the window's replace question or with snipora-cut's --yes). Without it the
    // finished output never replaces a file, not even one that appeared during the run. The
    // consent holds for one job: it is withdrawn when that job ends and by clearJobs().
    void setReplaceAllowed(bool allowed) { m_replaceAllowed = allowed; }
    bool replaceAllowed() const { return m_replaceAllowed; }

Q_SIGNALS:
    // Bytes written so far, position and duration in microseconds (-1 when unknown).
    void encoderProgress(qint64 bytes, qint64 positionMicros, qint64 durationMicros);
    void encoderFinished(int taskIndex, bool succeeded, bool failed, const QString &message);

private:
    bool m_replaceAllowed = false;
};
