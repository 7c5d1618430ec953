#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <utility>

// The player's load and stop commands, sent to mpv without waiting for them and one at a time:
// the next is sent when the reply to the one before has come, so that a stop never overtakes a
// load asked for after it (mpv runs asynchronous commands on its own threads, in no promised
// order). Of the wishes made while a command is on its way only the last is kept: a load
// replaces whatever plays, and a stop ends it, so an earlier wish would be undone at once.
class CommandChain
{
public:
    enum class Kind { Load, Stop };
    struct Command
    {
        Kind kind = Kind::Stop;
        QByteArray file; // the file to load (Load only)
        quint64 serial = 0; // the wish's number, 1 for the first; the reply carries it
    };
    // Sends a command to mpv; false when mpv refused it at once (no reply will come).
    using Send = std::function<bool(const Command &)>;

    // Told of a command mpv refused when it was sent (the wish's owner reports the failure).
    using Refused = std::function<void(const Command &)>;

    CommandChain(Send send, Refused refused)
        : m_send(std::move(send))
        , m_refused(std::move(refused))
    {
    }

    // Returns the wish's serial. A wish made while nothing is on its way is sent at once.
    quint64 want(Kind kind, const QByteArray &file = {})
    {
        m_waiting = Command { kind, file, ++m_serial };
        if (m_inFlight == 0)
            sendWaiting();
        return m_serial;
    }

    // The reply to the command with this serial: the waiting wish, if any, goes out. Returns
    // false for a serial that is not the one on its way (a reply already handled).
    bool replied(quint64 serial)
    {
        if (serial == 0 || serial != m_inFlight)
            return false;
        m_inFlight = 0;
        sendWaiting();
        return true;
    }

    // A command is on its way or waiting to be sent.
    bool busy() const { return m_inFlight != 0 || m_waiting.has_value(); }
    // The last wish made (0 before the first); a reply with an older serial answers a wish
    // that has been given up.
    quint64 lastWish() const { return m_serial; }

private:
    void sendWaiting()
    {
        while (m_waiting) {
            const Command command = *m_waiting;
            m_waiting.reset();
            if (m_send(command)) {
                m_inFlight = command.serial;
                return;
            }
            // Refused at once: nothing is on its way, and a wish made meanwhile may go.
            if (m_refused)
                m_refused(command);
        }
    }

    Send m_send;
    Refused m_refused;
    std::optional<Command> m_waiting;
    quint64 m_inFlight = 0;
    quint64 m_serial = 0;
};
