#pragma once

#include "avhandles.h"
#include "result.h"

#include <QString>

// The source of a copy: the file opened read-only with libavformat, its main video stream
// (the first one that is not a cover picture), and reading from a point at or before a time.
class SourceReader
{
public:
    // SourceUnreadable: not a readable file, or not media; SourceDamaged: its streams cannot
    // be read.
    Outcome open(const QString &path);

    AVFormatContext *context() const { return m_ctx.get(); }
    int videoIndex() const { return m_video; }
    const AVStream *videoStream() const { return m_video >= 0 ? m_ctx->streams[m_video] : nullptr; }
    // Seconds from the start of the file (as the player shows them) in a stream's time base.
    qint64 toStreamTime(double seconds, int stream) const;
    double toSeconds(qint64 ts, int stream) const;

    // Finds where to begin reading so that the video random access point at or before `seconds`,
    // and every packet of the other streams from about a second before it, are read. For
    // containers without an index the seek is widened until that holds. NotPossible when no
    // such point is found, SourceDamaged when the file cannot be read there. cleanOnly: a
    // clean start (see isCleanStart()) instead.
    Outcome findEntry(double seconds, bool cleanOnly = false);
    // Goes to the entry found last; reading then gives the same packets every time.
    bool rewind();
    // Goes to a point from which the first random access point of the video read is at or
    // before `seconds`, and after `after` (seconds); false when there is none (the entry is
    // kept: rewind() still goes there). For reading a window at the end of a long range.
    bool seekBetween(double after, double seconds);
    // The next packet of any stream; false at the end of the file or on a read error.
    bool read(AVPacket *packet);
    bool readFailed() const { return m_readError; }

    // True when decoding can begin at this packet of the video stream with nothing before it:
    // an IDR picture (H.264), an IRAP picture (HEVC), else the container's key frame flag.
    bool isCleanStart(const AVPacket *packet) const;
    // True when a decoder that begins at this packet of the video stream shows every frame
    // from this one on exactly: a clean start, or an H.264 key frame with a recovery point
    // (open GOPs), which a copy cannot follow re-encoded frames with but which can start one.
    bool isRandomAccess(const AVPacket *packet) const;
    // The packet's presentation time, or its decoding time when it has none.
    static qint64 packetTime(const AVPacket *packet);

private:
    AvInputPtr m_ctx;
    int m_video = -1;
    int m_lengthSize = 0; // NAL framing of the video packets (0: Annex B)
    qint64 m_entry = 0; // the seek target, AV_TIME_BASE units
    bool m_entryAtStart = true;
    bool m_readError = false;
};
