#pragma once

#include <QByteArray>
#include <QString>

// The timeline's results kept on disk, one file per source file and kind of result, so that a
// file opened again shows its timeline at once. An entry is found only for the same path, size,
// modification time and file (inode) as when it was written, and for the same kind (which names
// the builder's settings too). A damaged, truncated or foreign cache file is ignored (and
// replaced by the next store). The folder is kept under a size bound by removing the entries
// used least recently. Safe to use from several threads and processes at once: entries are
// written to a temporary file and renamed into place.
class TimelineCache
{
public:
    static constexpr qint64 kDefaultMaxBytes = qint64(256) << 20;

    // The user's cache folder (XDG_CACHE_HOME/<organisation>/<application>/timeline).
    TimelineCache();
    TimelineCache(const QString &folder, qint64 maxBytes);
    static TimelineCache disabled();
    static QString defaultFolder();

    bool isEnabled() const { return !m_folder.isEmpty(); }
    QString folder() const { return m_folder; }
    qint64 maxBytes() const { return m_maxBytes; }

    // The payload stored for the source and kind; empty when there is none that is valid.
    QByteArray load(const QString &sourcePath, const QString &kind) const;
    // Stores the payload (then trims the folder to its bound); false when it cannot be written.
    bool store(const QString &sourcePath, const QString &kind, const QByteArray &payload) const;
    // The cache file of a source and kind (it may not exist).
    QString entryPath(const QString &sourcePath, const QString &kind) const;

private:
    void trim() const;

    QString m_folder;
    qint64 m_maxBytes = kDefaultMaxBytes;
};
