#pragma once

#include "probe.h"

#include <QStringList>

// A probe double answering with the values the test sets.
class FakeProbe final : public Probe
{
public:
    bool openSucceeds = true;
    int videoIndex = 0;
    int audioIndex = 1;
    int videoCount = 1;
    int audioCount = 1;
    int channels = 2;
    int width = 640;
    int height = 360;
    qint64 size = 1000000;
    qint64 time = 0;
    QStringList calls;

    bool open(const QString &path, const QString &) override
    {
        calls << QStringLiteral("open:") + path;
        return openSucceeds;
    }
    void close() override { }
    int videoStreamIndex() const override { return videoIndex; }
    int audioStreamIndex() const override { return audioIndex; }
    int videoStreamCount() const override { return videoCount; }
    int audioStreamCount() const override { return audioCount; }
    int channelCount(int) const override { return channels; }
    int pictureWidth(int) const override { return width; }
    int pictureHeight(int) const override { return height; }
    qint64 fileSize() const override { return size; }
    qint64 durationMicros() const override { return -1; }
    bool positionAtTime(qint64 micros, int) override
    {
        calls << QStringLiteral("positionAtTime");
        time = micros;
        return true;
    }
    bool step(int frames) override
    {
        calls << QStringLiteral("step");
        time += frames * 40000;
        return true;
    }
    qint64 currentTime() const override { return time; }
};
