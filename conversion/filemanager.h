#pragma once

#include <QString>

// Shows the file selected in its folder in the desktop's file manager, where one offers that
// on the session bus (org.freedesktop.FileManager1, ShowItems: Nautilus, Dolphin, Nemo,
// Caja, Thunar...). False when there is no session bus or no such file manager, or it refused;
// the caller then opens the folder instead. Waits at most two seconds.
bool ShowInFileManager(const QString &filePath);
