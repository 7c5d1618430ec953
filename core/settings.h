#pragma once

#include <QString>

// The per-user settings store: organisation "Ferrolan Software", application "Snipora", in the
// platform's native format (the registry key HKCU\Software\Ferrolan Software\Snipora on
// Windows, the XDG config file elsewhere). The store is opened and closed around every read
// and write; nothing is cached. Only string values are written.

// The value's text: a string as stored, a number or other scalar as its text, "" for a missing
// value, a missing or unreadable store, or a value that has no text form. The text is then
// cleaned: a text starting with NUL reads as "", and one trailing NUL is dropped.
QString ReadSetting(const QString &name);

// Stores the text as a string value, creating the store when needed. Failures are ignored.
void WriteSetting(const QString &name, const QString &text);
