#pragma once

#include "messagesink.h"

#include <QList>

// Records messages instead of showing modal boxes.
class RecordingMessageSink final : public MessageSink
{
public:
    struct Message
    {
        Icon icon;
        QString caption;
        QString text;
    };
    QList<Message> messages;
    Answer nextAnswer = Answer::No;

    void showMessage(QWidget *, Icon icon, const QString &caption, const QString &text) override
    {
        messages << Message { icon, caption, text };
    }
    Answer askYesNo(QWidget *, const QString &caption, const QString &text) override
    {
        messages << Message { Icon::None, caption, text };
        return nextAnswer;
    }
};
