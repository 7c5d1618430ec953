#pragma once

#include "avhandles.h"
#include "result.h"

#include <QString>

class JobContext;

// A media file opened read-only with libavformat for one of the timeline's builders, reads
// interrupted when the run is cancelled. Times are microseconds on the player's axis: the
// container's time minus the file's start time (an MPEG-TS file starting at 10 s has its first
// frame near 0).
class MediaInput
{
public:
    // Refuses missing, empty and non-regular files before libav reads anything
    // (SourceUnreadable); SourceDamaged when the streams cannot be read, NotPossible without
    // audio or video. A cancelled open is Stopped, with no sentence.
    Outcome open(const QString &path, const JobContext &context);
    // open() for a builder's run: a failure is reported to the job (unless the run was
    // cancelled) and false returned.
    bool openForRun(const QString &path, const JobContext &context);

    AVFormatContext *context() const { return m_ctx.get(); }
    QString formatName() const;
    // The first stream of the type that is not a cover picture, or -1.
    int firstStream(AVMediaType type) const;
    // `wanted` when it is a stream of the type, else the first one.
    int streamOrFirst(int wanted, AVMediaType type) const;

    qint64 toMicros(qint64 ts, int stream) const;
    qint64 toStreamTime(qint64 micros, int stream) const;
    // The file's length (microseconds, -1 when unknown).
    qint64 durationMicros() const;
    // The length the container states, else the end of the stream's last packet, read near the
    // end of the file (-1 when none reads). Leaves the reading position anywhere.
    qint64 lengthMicros(int stream);
    // How much of the file has been read, 0 to 1.
    double readFraction() const;
    // Only the given stream's packets are read (the demuxer skips the others' data where it
    // can); `keep` says which of its packets.
    void readOnly(int stream, AVDiscard keep = AVDISCARD_DEFAULT);

    // The next packet of the stream that is to be shown; false at the end of the file, on a read
    // error (then *readError is set) or once the run is cancelled.
    bool nextPacket(int stream, AVPacket *packet, const JobContext &context, bool *readError);

    // Opens a decoder for a stream with at most `threads` threads; nullptr when the codec is
    // not known or does not open.
    AvCodecPtr openDecoder(int stream, int threads) const;

private:
    AvInputPtr m_ctx;
    qint64 m_start = 0;
    qint64 m_size = 0;
};

// A packet's presentation time, or its decoding time when it has none.
qint64 PacketTime(const AVPacket *packet);
