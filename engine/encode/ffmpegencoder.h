#pragma once

#include "copynote.h"
#include "encoder.h"
#include "encoderruns.h"
#include "optiontranslator.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>

#include <memory>
#include <optional>

class TemporaryOutput;

// The encoder on the ffmpeg program, run through QProcess with an argument list (never a
// shell). One job at a time: the inputs and the output added since the last clearJobs().
// A direct copy runs in-process instead (StreamCopy on a worker thread, exact unless
// setExactCopy(false)); its progress and outcome arrive through the same signals, on the
// thread the encoder lives in. The two are separate runs (ProcessRun, CopyRun); the encoder is
// the one place that decides, from the job's mode, which of them runs.
//
// The output is written to a hidden temporary file in the destination folder and given the final
// name only after ffmpeg succeeded and the file holds what was asked for (see TemporaryOutput).
// stopEncoding() ends ffmpeg (terminate, then kill after a bound) and removes the temporary file
// before it returns. A destination folder that disappears during the run ends it as a failure.
// No ffmpeg outlives the encoder or the program.
struct RangeJoin;
struct JoinChapter;

class FfmpegEncoder final : public Encoder
{
    Q_OBJECT
public:
    explicit FfmpegEncoder(QObject *parent = nullptr);
    ~FfmpegEncoder() override;

    bool isLibraryLoaded() const override;
    bool loadLibrary(const QString &folder) override;
    // Finds the ffmpeg program as loadLibrary() does, without running it first: a program that
    // does not run fails the job that needs it, with its own message. For one-shot callers
    // (snipora-cut), where the check would cost as much as the job's own start.
    bool locateLibrary(const QString &folder);
    QString programPath() const { return m_program; }

    void clearJobs() override;
    int addInputFile(const QString &path, const QString &options) override;
    int addOutputFile(int inputIndex, const QString &path, const QString &options) override;
    void removeInputFile(int inputIndex) override;
    bool startEncoding() override;
    void stopEncoding() override;
    bool isRunning() const override;
    QString lastErrorText() const override;
    void setExactCopy(bool exact) override { m_exactCopy = exact; }
    void setCutMode(CutMode mode) override { m_mode = mode; }
    void setRanges(const QList<CutSpan> &ranges) override
    {
        m_ranges = ranges.size() > 1 ? ranges : QList<CutSpan>();
    }
    void setDeviceLimits(const DeviceLimits &limits) override { m_deviceLimits = limits; }
    void setStreams(const QList<int> &streams) override { m_streams = streams; }
    // What the job set up last has to tell before it runs: chosen tracks its format cannot
    // hold ("keeps one audio track: AVI holds one").
    QStringList jobNotes() const;
    // What the last direct copy had to tell (streams left out, a start on a key frame).
    CopyNotes copyNotes() const { return m_copyNotes; }

    // The full ffmpeg argument list of the job as it would run (the output being the temporary
    // file); empty when no job is set up.
    QStringList jobArguments(const QString &outputPath) const;
    // The temporary file a running job writes; "" when none runs.
    QString temporaryOutputPath() const;

private:
    struct Input
    {
        QString path;
        QString options;
        QString formatName;
        SourceMedia media;
        qint64 durationMicros = -1;
        bool removed = false;
    };
    struct Output
    {
        int inputIndex = -1;
        QString path;
        // The options translated once, when the output was set up: the process start and
        // jobArguments() use them.
        TranslatedOptions translated;
        // A conversion of several ranges: its inputs, filter graph and output options (see
        // JoinRanges); empty for one range.
        QStringList joinedArgs;
        QList<int> streams; // the chosen streams; empty: the default ones
        QStringList notes; // of the translation, for jobNotes()
        bool streamCopy = false; // a direct copy, run in-process
        bool exact = true;
    };

    // The conversion of several ranges (m_ranges) of the input with these options.
    Result<RangeJoin> joinRanges(const Input &input, const SourceMedia &media,
                                 const QString &options, const QString &extension) const;
    // One chapter per range of that conversion, where its piece starts in the output.
    QList<JoinChapter> joinedChapters(const Input &input, bool audio) const;
    // The chosen streams (m_streams) of the input, with what the translation needs to know of
    // them; false with m_error set when one does not exist or none is video or audio.
    bool chosenStreams(const Input &input, QList<SourceStream> *chosen);

    // Reports of the runs.
    void onProcessProgress(const QList<ProgressParser::Block> &blocks);
    void onCopyProgress(qint64 bytes, double fraction);
    void onRunEnded(bool written, const QString &failure);
    // A folder that went away takes the output with it: checked at most once a second during
    // a run, which it then ends as a failure; true when it did.
    bool folderGone();
    void finishRun(bool succeeded, const QString &message);
    void planDurations(const Input &input, const TranslatedOptions &t);
    // The one way a job that wrote its temporary file ends: the file is checked and gets its
    // final name (m_output->commit()), then the run finishes as a success or a failure. Every
    // kind of job writes to m_output->temporaryPath() and ends here.
    void saveOutput();
    // Ends the running run, if any, and finishes it as a failure with the message.
    void endRun(const QString &message);
    QString folderGoneMessage() const;

    QString m_program;
    bool m_loaded = false;
    QList<Input> m_inputs;
    QList<Output> m_outputs;
    QString m_error;

    std::unique_ptr<TemporaryOutput> m_output;
    qint64 m_jobDurationMicros = -1;
    qint64 m_expectedMicros = -1; // the length the result must have, as far as the input has it
    QElapsedTimer m_folderCheck;
    bool m_stopping = false;
    bool m_aborted = false;

    bool m_exactCopy = true;
    std::optional<CutMode> m_mode; // told by setCutMode() since the last clearJobs()
    QList<CutSpan> m_ranges; // told by setRanges(): two or more, or none
    DeviceLimits m_deviceLimits;
    QList<int> m_streams; // told by setStreams()
    ProcessRun m_process;
    CopyRun m_copy;
    EncoderRun *m_run = nullptr; // the one of the two that runs, if any
    CopyNotes m_copyNotes;
};
