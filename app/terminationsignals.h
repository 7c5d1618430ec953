#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT (the session ends, the terminal goes, Ctrl+C) delivered as a Qt
// signal on the thread that made the object, through a pipe the handler writes to, so that the
// program can end the way closing its window does instead of dying mid-write. One instance at
// a time; destroying it gives the signals their default actions back.
class TerminationSignals final : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
