#pragma once

#include <QString>
#include <QStringList>

// The media file named on the program's command line (what a file manager's "Open with" or
// the desktop entry's %f passes): the first argument that is not an option, or that follows
// "--", as an absolute path; a file:// address becomes its local path. "" when none is named.
QString FileToOpen(const QStringList &arguments);
