#pragma once

#include "probe.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class AvProbe;

// Finds frames of a file on a thread of its own, with a libavformat reader of its own, so that
// a decode from a distant key frame never holds up the thread that asks. Requests wait in a
// single place: the newest replaces one still waiting, and the one replaced gets no answer.
// Answers arrive queued on the thread that created the finder; those for a file it has been
// told to forget (setFile()) are dropped.
class FrameFinder
{
public:
    FrameFinder();
    ~FrameFinder();
    FrameFinder(const FrameFinder &) = delete;
    FrameFinder &operator=(const FrameFinder &) = delete;

    // The file the next requests are about; "" for none.
    void setFile(const QString &path);
    // What Probe::findFrameBefore() gives for the time.
    void findFrameBefore(qint64 micros, Probe::FrameFound found);

private:
    struct Request
    {
        QString path;
        qint64 micros = 0;
        Probe::FrameFound found;
        quint64 generation = 0;
    };
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_waiting;
    QString m_path;
    quint64 m_generation = 0; // counts the files told; read on the answering thread only
    bool m_stop = false;
    QObject m_answers; // on the creating thread: where answers are delivered
    std::unique_ptr<AvProbe> m_reader; // the worker's own
    std::thread m_thread;
};
