#include "commandline.h"

#include <QFileInfo>
#include <QUrl>

QString FileToOpen(const QStringList &arguments)
{
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument.isEmpty() || (!optionsEnded && argument.startsWith(QLatin1Char('-'))))
            continue;
        QString path = argument;
        if (argument.startsWith(QLatin1String("file:"))) {
            const QUrl url(argument);
            if (!url.isLocalFile())
                continue;
            path = url.toLocalFile();
        }
        return QFileInfo(path).absoluteFilePath();
    }
    return QString();
}
