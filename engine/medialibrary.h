#pragma once

#include <QString>

#include <memory>

class QProcess;

// Locates and checks the media programs and libraries the engine runs on.

// The ffmpeg program: "ffmpeg" inside the folder when it is an executable file there,
// otherwise the one found on PATH; "" when there is none.
QString FindFfmpegProgram(const QString &folder);

// True when the program runs "-version" successfully within a few seconds.
bool FfmpegProgramRuns(const QString &program);

// The same check run in the background: start() returns at once, wait() gives the answer
// (waiting for it when it has not come yet). Start-up runs it while the window is built.
class FfmpegProgramCheck
{
public:
    explicit FfmpegProgramCheck(const QString &program);
    ~FfmpegProgramCheck();
    FfmpegProgramCheck(const FfmpegProgramCheck &) = delete;
    FfmpegProgramCheck &operator=(const FfmpegProgramCheck &) = delete;

    QString program() const { return m_program; }
    bool wait();

private:
    QString m_program;
    std::unique_ptr<QProcess> m_process;
    int m_result = -1; // -1 not known yet, else 0 or 1
};

// True when an mpv handle can be created and initialised.
bool MpvLibraryUsable();
