#pragma once

#include <QString>

// Reports a media file's streams, picture size and file size, and steps through its frames.
// Synchronous; used on the UI thread for short reads only.
class Probe
{
public:
    virtual ~Probe() = default;

    // Opens the file for probing, closing any file opened before. Options are reserved ("").
    virtual bool open(const QString &path, const QString &options) = 0;
    virtual void close() = 0;

    // Stream indexes are the container's; -1 when there is no such stream.
    virtual int videoStreamIndex() const = 0;
    virtual int audioStreamIndex() const = 0;
    virtual int videoStreamCount() const = 0;
    virtual int audioStreamCount() const = 0;
    virtual int channelCount(int streamIndex) const = 0;
    virtual int pictureWidth(int streamIndex) const = 0;
    virtual int pictureHeight(int streamIndex) const = 0;
    // Bytes; -1 when unknown.
    virtual qint64 fileSize() const = 0;
    // The container's duration in microseconds; -1 when unknown.
    virtual qint64 durationMicros() const = 0;

    // Decodes the video to the last frame that starts at or before the time (microseconds).
    virtual bool positionAtTime(qint64 micros, int flags) = 0;
    // Moves by whole frames; -1 steps back to the frame before the current one.
    virtual bool step(int frames) = 0;
    // The start time of the current frame in microseconds.
    virtual qint64 currentTime() const = 0;
};
