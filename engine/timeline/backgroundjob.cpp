#include "backgroundjob.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <new>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

// The state one run shares between the job and its worker thread.
struct JobRun
{
    std::atomic<bool> cancelled { false };
    std::atomic<bool> ended { false }; // the worker thread is about to return
};

namespace {

// The builders yield to the user interface and the player: on Linux each thread has its own
// nice value.
void lowerThisThreadsPriority()
{
#ifdef __linux__
    const id_t thread = static_cast<id_t>(gettid());
    const int now = getpriority(PRIO_PROCESS, thread);
    setpriority(PRIO_PROCESS, thread, std::min(19, std::max(now, 0) + 10));
#endif
}

} // namespace

JobContext::JobContext(BackgroundJob *job, std::shared_ptr<JobRun> run)
    : m_job(job)
    , m_run(std::move(run))
{
}

bool JobContext::isCancelled() const
{
    return m_run->cancelled.load(std::memory_order_relaxed);
}

void *JobContext::interruptOpaque() const
{
    return m_run.get();
}

int JobContext::interrupted(void *opaque)
{
    return static_cast<const JobRun *>(opaque)->cancelled.load(std::memory_order_relaxed) ? 1 : 0;
}

void JobContext::post(std::function<void()> emitter) const
{
    QMetaObject::invokeMethod(
        m_job,
        [run = m_run, emitter = std::move(emitter)] {
            if (!run->cancelled.load())
                emitter();
        },
        Qt::QueuedConnection);
}

void JobContext::postProgress(double fraction) const
{
    BackgroundJob *job = m_job;
    post([job, fraction] { Q_EMIT job->progressChanged(std::clamp(fraction, 0.0, 1.0)); });
}

void JobContext::finish(std::function<void()> emitter) const
{
    BackgroundJob *job = m_job;
    QMetaObject::invokeMethod(
        m_job,
        [job, run = m_run, emitter = std::move(emitter)] {
            if (run->cancelled.load())
                return;
            // Later posts of this run (there are none by contract) are dropped too.
            run->cancelled.store(true);
            if (job->m_current == run) {
                job->m_current.reset();
                job->m_running = false;
            }
            emitter();
        },
        Qt::QueuedConnection);
}

void JobContext::fail(const QString &message) const
{
    BackgroundJob *job = m_job;
    finish([job, message] { Q_EMIT job->failed(message); });
}

BackgroundJob::BackgroundJob(QObject *parent)
    : QObject(parent)
{
}

BackgroundJob::~BackgroundJob()
{
    cancel();
    for (Worker &worker : m_workers) {
        worker.run->cancelled.store(true);
        if (worker.thread.joinable())
            worker.thread.join();
    }
}

void BackgroundJob::cancel()
{
    if (m_current)
        m_current->cancelled.store(true);
    m_current.reset();
    m_running = false;
}

void BackgroundJob::reapEndedThreads()
{
    // A thread that marked its end only returns from its function: joining it does not wait.
    auto ended = [](Worker &worker) {
        if (!worker.run->ended.load())
            return false;
        worker.thread.join();
        return true;
    };
    m_workers.erase(std::remove_if(m_workers.begin(), m_workers.end(), ended), m_workers.end());
}

void BackgroundJob::startWork(Work work)
{
    cancel();
    reapEndedThreads();
    auto run = std::make_shared<JobRun>();
    m_current = run;
    m_running = true;
    std::thread thread([this, run, work = std::move(work)] {
        lowerThisThreadsPriority();
        const JobContext context(this, run);
        // Nothing thrown may leave the thread: a failed allocation ends the run with a message.
        try {
            work(context);
        } catch (const std::bad_alloc &) {
            context.fail(tr("Not enough memory to read this file's timeline."));
        } catch (...) {
            context.fail(tr("This file's timeline could not be read."));
        }
        run->ended.store(true);
    });
    m_workers.push_back({ std::move(thread), std::move(run) });
}
