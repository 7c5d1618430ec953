#include "appfolder.h"

#include "timecode.h"

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

QString AppFolderOf(const QString &programFolder)
{
    QString folder = programFolder;
    if (folder.isEmpty() || !IsPathSeparator(folder.back()))
        folder += PathSeparator();
    return folder;
}

QString LibraryFolder(const QString &programFolder)
{
    return AppFolderOf(programFolder) + QStringLiteral("LibAV");
}
