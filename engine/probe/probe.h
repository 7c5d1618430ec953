#pragma once

#include <QString>

#include <functional>

// Reports a media file's streams, picture size and file size, and steps through its frames.
// Synchronous, for short reads on the UI thread; findFrameBefore() alone may run elsewhere.
class Probe
{
public:
    virtual ~Probe() = default;

    // Opens the file for probing, closing any file opened before. Options are reserved ("").
    virtual bool open(const QString &path, const QString &options) = 0;
    // Opens the file as open() does and hands the answer to opened(). A probe may read the file
    // away from the calling thread; it then answers from the caller's event loop, keeps the
    // file opened before until then, and drops an open that open(), close() or another
    // openInBackground() came after (no answer). This one opens at once.
    using Opened = std::function<void(bool opened)>;
    virtual void openInBackground(const QString &path, Opened opened)
    {
        opened(open(path, QString()));
    }
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

    // Finds the start of the frame before the last one that starts at or before the time
    // (positionAtTime(), then step(-1), of the open file; the first frame when none is before) and
    // hands it to found(), with false when there is none. A probe may search away from the calling
    // thread; it then answers from the caller's event loop, and a search asked for while another is
    // still waiting for its turn replaces it (the one replaced gets no answer). This one answers at
    // once.
    using FrameFound = std::function<void(qint64 frameMicros, bool found)>;
    virtual void findFrameBefore(qint64 micros, FrameFound found)
    {
        const bool ok = positionAtTime(micros, 0);
        if (ok)
            step(-1); // the first frame has none before it: it stays
        found(currentTime(), ok);
    }
};
