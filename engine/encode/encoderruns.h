#pragma once

#include "copynote.h"
#include "progressparser.h"
#include "result.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

struct StreamCopyJob;

// The two kinds of run an encoder job is: the ffmpeg program in a child process, and the
// in-process direct copy on a worker thread. Each writes the job's temporary file and reports
// through its callbacks, on the thread it was made in; each has its own start, stop and
// isRunning. stop() ends the run before it returns and silences it: nothing is reported after
// it. The encoder decides which one runs and turns their reports into its signals.
class EncoderRun
{
public:
    virtual ~EncoderRun() = default;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The run wrote its temporary file (written), or failed with one sentence that names the
    // file the user asked for. Called once per run, never after stop().
    std::function<void(bool written, const QString &failure)> ended;
};

// The files a run deals in, for its messages: the temporary it writes is named as the final
// file the user asked for.
struct RunFiles
{
    QString inputPath;
    QString temporaryPath;
    QString finalPath;
};

// The ffmpeg program, run through QProcess with an argument list (never a shell). No ffmpeg
// outlives the run object or the program.
class ProcessRun final : public EncoderRun
{
public:
    ~ProcessRun() override;
    void start(const QString &program, const QStringList &arguments, const RunFiles &files);
    // Ends ffmpeg: terminate, then kill after a bound.
    void stop() override;
    bool isRunning() const override;

    // The progress blocks of each piece of ffmpeg's progress output, possibly none.
    std::function<void(const QList<ProgressParser::Block> &blocks)> progressed;

private:
    void onStandardOutput();
    void onStandardError();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void finish(bool written, const QString &failure);
    // The failure of a run that ended badly: one sentence naming the file asked for, and
    // ffmpeg's line about the fault as its details.
    QString conversionFailure(bool crashed) const;

    QPointer<QProcess> m_process;
    ProgressParser m_parser;
    QByteArray m_stderrTail;
    RunFiles m_files;
    QString m_program;
};

// The direct copy (StreamCopy) on a worker thread; what the worker reports is queued to the
// thread the run object was made in. Reports of an earlier run are dropped.
class CopyRun final : public EncoderRun
{
public:
    ~CopyRun() override;
    void start(const StreamCopyJob &job, const RunFiles &files);
    // Asks the worker to stop (it checks between packets and frames, so the wait is short)
    // and waits for it.
    void stop() override;
    bool isRunning() const override { return m_running; }
    // What the last finished copy had to tell (streams left out, a start on a key frame).
    CopyNotes notes() const { return m_notes; }

    // Bytes written so far and the fraction of the work done (0..1).
    std::function<void(qint64 bytes, double fraction)> progressed;

private:
    void onProgress(quint64 run, qint64 bytes, double fraction);
    void onFinished(quint64 run, const Outcome &outcome, const CopyNotes &notes);
    void join();

    QObject m_context; // where the worker's reports are delivered
    std::thread m_thread;
    std::atomic<bool> m_cancel { false };
    bool m_running = false;
    quint64 m_run = 0;
    CopyNotes m_notes;
    RunFiles m_files;
};
