#pragma once

#include <QString>

// The folder that holds the program's own files (skin, user guide, an optional LibAV folder):
// the program's folder itself when they are beside it (a build tree), else the installed data
// folder <prefix>/share/snipora next to <prefix>/bin.
QString ResolveProgramFolder(const QString &binaryFolder);

// The program's folder with one trailing separator, and the media library folder in it.
QString AppFolderOf(const QString &programFolder);
QString LibraryFolder(const QString &programFolder);
