#include "appfolder.h"

#include <QDir>
#include <QFileInfo>

QString ResolveProgramFolder(const QString &binaryFolder)
{
    const QDir bin(binaryFolder);
    if (QFileInfo::exists(bin.filePath(QStringLiteral("skin.qss"))))
        return binaryFolder;
    const QFileInfo installed(bin.filePath(QStringLiteral("../share/snipora")));
    if (installed.isDir())
        return installed.canonicalFilePath();
    return binaryFolder;
}
