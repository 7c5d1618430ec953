#include "boxmessagesink.h"

#include <QMessageBox>

void BoxMessageSink::showMessage(QWidget *parent, Icon icon, const QString &caption,
                                 const QString &text)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::None:
        break;
    case Icon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case Icon::Warning:
        boxIcon = QMessageBox::Warning;
        break;
    case Icon::Error:
        boxIcon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

MessageSink::Answer BoxMessageSink::askYesNo(QWidget *parent, const QString &caption,
                                             const QString &text)
{
    const auto answer = QMessageBox::question(parent, caption, text,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? Answer::Yes : Answer::No;
}
