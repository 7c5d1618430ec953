#pragma once

#include <QString>

class QWidget;

// Where the program's message boxes go. The desktop build shows real message boxes; tests
// record the messages instead of blocking on a modal box. Every call returns after the user
// (or the test double) has dismissed the message.
class MessageSink
{
public:
    enum class Icon { None, Information, Warning, Error };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageSink() = default;

    // A message with an OK button.
    virtual void showMessage(QWidget *parent, Icon icon, const QString &caption,
                             const QString &text)
        = 0;
    // A question with Yes and No buttons; No is the default.
    virtual Answer askYesNo(QWidget *parent, const QString &caption, const QString &text) = 0;
};
