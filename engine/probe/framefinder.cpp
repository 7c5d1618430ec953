#include "framefinder.h"

#include "avprobe.h"

#include <QMetaObject>

FrameFinder::FrameFinder()
    : m_reader(std::make_unique<AvProbe>())
    , m_thread([this] { run(); })
{
}

FrameFinder::~FrameFinder()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_waiting.reset();
    }
    m_wake.notify_one();
    m_thread.join();
    // Answers still queued go with m_answers.
}

void FrameFinder::setFile(const QString &path)
{
    const std::lock_guard lock(m_mutex);
    if (path == m_path)
        return;
    m_path = path;
    ++m_generation;
    m_waiting.reset();
}

void FrameFinder::findFrameBefore(qint64 micros, Probe::FrameFound found)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting = Request { m_path, micros, std::move(found), m_generation };
    }
    m_wake.notify_one();
}

void FrameFinder::run()
{
    QString openPath;
    bool opened = false;
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_waiting.has_value(); });
            if (m_stop)
                return;
            request = std::move(*m_waiting);
            m_waiting.reset();
        }
        if (request.path != openPath) {
            openPath = request.path;
            opened = !openPath.isEmpty() && m_reader->open(openPath, QString());
        }
        bool found = false;
        qint64 frame = 0;
        if (opened) {
            found = m_reader->positionAtTime(request.micros, 0);
            if (found)
                m_reader->step(-1); // the first frame has none before it: it stays
            frame = m_reader->currentTime();
        }
        QMetaObject::invokeMethod(
            &m_answers,
            [this, request = std::move(request), frame, found] {
                bool current = false;
                {
                    const std::lock_guard lock(m_mutex);
                    current = request.generation == m_generation;
                }
                if (current)
                    request.found(frame, found);
            },
            Qt::QueuedConnection);
    }
}
