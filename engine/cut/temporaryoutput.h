#pragma once

#include "result.h"

#include <QString>
#include <QtGlobal>

// The file a job writes, from its first byte to its final name. A job writes a hidden temporary
// file in the destination folder; only commit() gives it the final name, after checking that it
// holds what was asked for. Every kind of job goes through this class, so the temporary names,
// the check of the result and the final rename live here alone.
//
// Guarantees:
// - The temporary name is short (".snipora-PID-TAG.EXT"), so it fits whenever the final name
//   fits, keeps the final extension (which tells ffmpeg the container) and names the process
//   that owns it. begin() removes the temporaries of owners that are gone (a killed run).
// - commit() never replaces a file unless told to: without consent a file that appeared at the
//   final name during the run is left as it is, and the cut is kept under a free name beside it.
// - The destination folder is held open: when it is moved or removed during the run, commit()
//   fails, and the temporary is removed from wherever the folder went.
// - Whatever fails, no temporary is left behind (discard() and the destructor remove it).
class TemporaryOutput
{
public:
    TemporaryOutput() = default;
    ~TemporaryOutput();
    TemporaryOutput(const TemporaryOutput &) = delete;
    TemporaryOutput &operator=(const TemporaryOutput &) = delete;

    // Opens the final path's folder, removes stale temporaries there and picks a free temporary
    // name. An error (DestinationUnusable) when the folder cannot be opened, (BadRequest) when
    // the final name's extension leaves no room for a temporary name.
    Outcome begin(const QString &finalPath);
    bool isActive() const { return m_folderFd >= 0; }
    QString temporaryPath() const;
    QString finalPath() const { return m_finalPath; }

    // False when the destination folder is no longer at its path (moved, removed, replaced).
    bool folderStillThere() const;

    // Checks the written temporary and gives it the final name. The check: the file holds at
    // least one audio or video stream with data and, when expectedMicros is 1 s or more, lasts
    // at least half of it (a wrong result is never a success). replace: the user agreed to
    // replace an existing file at the final name. On failure an error: EncoderFailed (the check),
    // DestinationUnusable (the folder went away, the rename failed), OutputExists (a file
    // appeared at the final name; the cut may be kept beside it, as the sentence says), and
    // nothing is left under the final name that was not there before.
    Outcome commit(qint64 expectedMicros, bool replace);

    // Removes the temporary (if any) and closes the folder.
    void discard();

    // The longest file name the folder takes, in bytes of the encoded name (255 when unknown).
    static int maximumNameBytes(const QString &folder);

private:
    // An error when the temporary is no result to keep.
    Outcome checkResult(qint64 expectedMicros) const;
    Outcome saveReplacing();
    // Without replacing a file at the final name: beside it under a free name when one is there.
    Outcome saveKeeping();
    void close();

    int m_folderFd = -1;
    quint64 m_folderDevice = 0;
    quint64 m_folderInode = 0;
    QString m_folderPath; // absolute, without a trailing separator (except for "/")
    QString m_temporaryName;
    QString m_finalPath;
    QString m_finalName;
};
