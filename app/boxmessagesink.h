#pragma once

#include "messagesink.h"

// Shows messages in modal message boxes.
class BoxMessageSink final : public MessageSink
{
public:
    void showMessage(QWidget *parent, Icon icon, const QString &caption,
                     const QString &text) override;
    Answer askYesNo(QWidget *parent, const QString &caption, const QString &text) override;
};
