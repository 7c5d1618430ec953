#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

class BackgroundJob;
struct JobRun;

// What the work of one run sees on its worker thread: whether the run is cancelled, and a way
// to hand results to the job's own thread.
class JobContext
{
public:
    // True once the run is cancelled (cancel(), a new start(), or the job's destruction).
    // Long loops ask this between steps; libav's blocking reads ask it through
    // interruptCallback().
    bool isCancelled() const;

    // Runs `emitter` in the job's thread, from its event loop, unless the run is cancelled by
    // then: partial results and progress.
    void post(std::function<void()> emitter) const;
    void postProgress(double fraction) const;
    // The run's last word: the job stops counting as running, then `emitter` runs (it emits
    // the builder's finished signal). Nothing of this run is posted after it.
    void finish(std::function<void()> emitter) const;
    // The run ends in failure: BackgroundJob::failed(message) is emitted in the job's thread.
    void fail(const QString &message) const;

    // For AVFormatContext::interrupt_callback: libav's reads give up once the run is
    // cancelled. Valid while the run's work function runs.
    using InterruptFunction = int (*)(void *);
    InterruptFunction interruptCallback() const { return &interrupted; }
    void *interruptOpaque() const;

private:
    friend class BackgroundJob;
    JobContext(BackgroundJob *job, std::shared_ptr<JobRun> run);
    static int interrupted(void *opaque);

    BackgroundJob *m_job;
    std::shared_ptr<JobRun> m_run;
};

// Base of the timeline's builders: runs a piece of work on a worker thread of its own, at a
// lower scheduling priority than the user interface, and delivers its results as signals in the
// thread the job lives in.
//
// Threading contract: create, start, cancel and destroy a job in one thread that runs a Qt event
// loop (the user interface thread). None of these calls waits for the work, except the
// destructor, which cancels the run and joins its thread (the work notices a cancel within a
// decoded frame or a read, well under 100 ms). Every signal is emitted in the job's thread from
// its event loop, never inside start() or cancel(); receivers in other threads get them queued as
// usual. Once cancel() (or a new start()) returns, no signal of the run it ends is emitted.
// A run ends with exactly one of the builder's finished signal or failed(), unless cancelled.
class BackgroundJob : public QObject
{
    Q_OBJECT
public:
    explicit BackgroundJob(QObject *parent = nullptr);
    ~BackgroundJob() override;
    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    // True from start() until the run's finished or failed signal is emitted or it is cancelled.
    bool isRunning() const { return m_running; }
    // Ends the current run at once; its thread stops on its own within a read or a frame.
    void cancel();

Q_SIGNALS:
    // How far the run is, 0 to 1, emitted now and then with partial results.
    void progressChanged(double fraction);
    // The run could not be done: a sentence for the user (missing file, not a media file...).
    void failed(const QString &message);

protected:
    using Work = std::function<void(const JobContext &)>;
    // Cancels any current run and starts `work` on a new worker thread. `work` must own
    // everything it uses (copies of the settings): the job's members may be gone while it ends.
    void startWork(Work work);

private:
    friend class JobContext;
    void reapEndedThreads();

    struct Worker
    {
        std::thread thread;
        std::shared_ptr<JobRun> run;
    };
    std::vector<Worker> m_workers;
    std::shared_ptr<JobRun> m_current;
    bool m_running = false;
};
