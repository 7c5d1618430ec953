#include "medialibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

QString FindFfmpegProgram(const QString &folder)
{
    if (!folder.isEmpty()) {
        const QFileInfo local(QDir(folder).filePath(QStringLiteral("ffmpeg")));
        if (local.isFile() && local.isExecutable())
            return local.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

bool FfmpegProgramRuns(const QString &program)
{
    if (program.isEmpty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, { QStringLiteral("-hide_banner"), QStringLiteral("-version") });
    if (!process.waitForStarted(5000))
        return false;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
        && process.readAll().startsWith("ffmpeg version");
}
