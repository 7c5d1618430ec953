#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMetaType>

// The results of the timeline's builders, as values. Times are microseconds on the player's
// axis (the container's time minus the file's start time). Each converts to and from the bytes
// the cache keeps; fromBytes() returns false for bytes it does not fully understand.

// The key frames of a file's first video stream.
struct KeyFrameList
{
    QList<qint64> keyFrames; // presentation times, ascending, no repeats
    QList<qint64> frameTimes; // every frame's presentation time, ascending; empty when unknown
    qint64 frameCount = -1; // -1 when unknown
    qint64 durationMicros = -1;
    bool fromContainerIndex = false; // read from the container's index, not from every packet
    bool fromCache = false;

    QByteArray toBytes() const;
    bool fromBytes(const QByteArray &bytes);
};

// One picture of the strip.
struct Thumbnail
{
    qint64 requestedMicros = 0; // the time it stands for
    qint64 frameMicros = 0; // the time of the frame shown: the key frame at or before it
    QImage image; // Format_RGB32
};

struct ThumbnailSet
{
    QList<Thumbnail> thumbnails; // ascending times; a picture that could not be decoded is left out
    int height = 0;
    bool fromCache = false;

    QByteArray toBytes() const;
    bool fromBytes(const QByteArray &bytes);
    qint64 imageBytes() const;
};

// The lowest and highest sample of one bucket of the mono mix, -1 to 1.
struct WaveformPeak
{
    float low = 0;
    float high = 0;
    bool operator==(const WaveformPeak &other) const = default;
};

// The audio of one stream as peaks: bucket i covers the times from i / bucketsPerSecond to
// (i + 1) / bucketsPerSecond seconds.
struct WaveformData
{
    QList<WaveformPeak> peaks;
    double bucketsPerSecond = 0;
    int streamIndex = -1; // -1: the file has no audio
    int sampleRate = 0;
    int channels = 0;
    bool fromCache = false;

    QByteArray toBytes() const;
    bool fromBytes(const QByteArray &bytes);
};

Q_DECLARE_METATYPE(KeyFrameList)
Q_DECLARE_METATYPE(Thumbnail)
Q_DECLARE_METATYPE(ThumbnailSet)
Q_DECLARE_METATYPE(WaveformData)
