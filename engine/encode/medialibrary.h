#pragma once

#include <QString>

// Locates and checks the media programs and libraries the engine runs on.

// The ffmpeg program: "ffmpeg" inside the folder when it is an executable file there,
// otherwise the one found on PATH; "" when there is none.
QString FindFfmpegProgram(const QString &folder);

// True when the program runs "-version" successfully within a few seconds.
bool FfmpegProgramRuns(const QString &program);
