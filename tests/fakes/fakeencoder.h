#pragma once

#include "encoder.h"

#include <QStringList>

#include <optional>

// An encoder double: records the job and lets the test raise the events.
class FakeEncoder final : public Encoder
{
    Q_OBJECT
public:
    using Encoder::Encoder;

    bool libraryAvailable = true;
    bool loaded = false;
    int inputResult = 0;
    int outputResult = 0;
    bool startResult = true;
    QString errorText = QStringLiteral("encoder error");

    QStringList calls;
    QString inputPath, inputOptions, outputPath, outputOptions;
    bool running = false;
    DeviceLimits device;
    std::optional<CutMode> mode;

    bool isLibraryLoaded() const override { return loaded; }
    bool loadLibrary(const QString &folder) override
    {
        calls << QStringLiteral("loadLibrary:") + folder;
        loaded = libraryAvailable;
        return loaded;
    }
    void clearJobs() override
    {
        calls << QStringLiteral("clearJobs");
        mode.reset();
    }
    int addInputFile(const QString &path, const QString &options) override
    {
        calls << QStringLiteral("addInputFile");
        inputPath = path;
        inputOptions = options;
        return inputResult;
    }
    int addOutputFile(int, const QString &path, const QString &options) override
    {
        calls << QStringLiteral("addOutputFile");
        outputPath = path;
        outputOptions = options;
        return outputResult;
    }
    void removeInputFile(int) override { calls << QStringLiteral("removeInputFile"); }
    bool startEncoding() override
    {
        calls << QStringLiteral("startEncoding");
        running = startResult;
        return startResult;
    }
    void stopEncoding() override
    {
        calls << QStringLiteral("stopEncoding");
        running = false;
    }
    bool isRunning() const override { return running; }
    void setDeviceLimits(const DeviceLimits &limits) override { device = limits; }
    void setCutMode(CutMode m) override { mode = m; }
    QString lastErrorText() const override { return errorText; }

    void progress(qint64 bytes, qint64 pos, qint64 dur) { Q_EMIT encoderProgress(bytes, pos, dur); }
    void finish(int task, bool ok, bool failed, const QString &msg)
    {
        running = false;
        Q_EMIT encoderFinished(task, ok, failed, msg);
    }
};
