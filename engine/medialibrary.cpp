#include "medialibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <mpv/client.h>

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
    return FfmpegProgramCheck(program).wait();
}

FfmpegProgramCheck::FfmpegProgramCheck(const QString &program)
    : m_program(program)
{
    if (program.isEmpty()) {
        m_result = 0;
        return;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, {QStringLiteral("-hide_banner"), QStringLiteral("-version")});
}

FfmpegProgramCheck::~FfmpegProgramCheck()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

bool FfmpegProgramCheck::wait()
{
    if (m_result >= 0)
        return m_result == 1;
    QProcess &process = *m_process;
    bool ok = process.waitForStarted(5000);
    if (ok && !process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        ok = false;
    }
    ok = ok && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
        && process.readAll().startsWith("ffmpeg version");
    m_result = ok ? 1 : 0;
    m_process.reset();
    return ok;
}

bool MpvLibraryUsable()
{
    mpv_handle *handle = mpv_create();
    if (!handle)
        return false;
    mpv_set_option_string(handle, "vo", "null");
    mpv_set_option_string(handle, "ao", "null");
    mpv_set_option_string(handle, "config", "no");
    const bool ok = mpv_initialize(handle) >= 0;
    mpv_terminate_destroy(handle);
    return ok;
}
