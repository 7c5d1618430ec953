#pragma once

#include "avhandles.h"
#include "probe.h"
#include "result.h"

#include <QList>
#include <QString>

#include <memory>

class FrameFinder;
struct BackgroundOpen;

// What the encoder needs to know of an input before it starts a job.
struct MediaFileInfo
{
    QString formatName; // libavformat's name of the container
    qint64 durationMicros = -1; // -1 when unknown
    int videoStreams = 0;
    int audioStreams = 0;
    // Of the streams ffmpeg picks when converting: the largest picture, the most channels.
    int width = 0;
    int height = 0;
    double frameRate = 0;
    int audioChannels = 0;
    int sampleRate = 0;
    bool hasPackets = false; // at least one packet of data can be read
};

// Opens the file read-only with libavformat and reads its streams. On failure a sentence for
// the user that does not repeat the path; the caller names the file. SourceUnreadable: missing,
// not a regular file, unreadable, empty, not a media file; SourceDamaged: its streams cannot be
// read; NotPossible: no stream to cut ("No audio or video stream."). Pipes and devices are
// refused before anything reads them.
Result<MediaFileInfo> InspectMediaFile(const QString &path);

// True when libavformat writes files of this extension (without the dot) by itself, that is
// without being told the container.
bool HasMuxerForExtension(const QString &extension);

// The probe on libavformat/libavcodec. Opens files read-only.
class AvProbe final : public Probe
{
public:
    AvProbe();
    ~AvProbe() override;
    AvProbe(const AvProbe &) = delete;
    AvProbe &operator=(const AvProbe &) = delete;

    bool open(const QString &path, const QString &options) override;
    // Reads the file on a pool thread (QThreadPool); the answer comes through the application
    // object's event loop.
    void openInBackground(const QString &path, Opened opened) override;
    void close() override;
    QString lastErrorText() const { return m_error; }

    int videoStreamIndex() const override;
    int audioStreamIndex() const override;
    int videoStreamCount() const override;
    int audioStreamCount() const override;
    int channelCount(int streamIndex) const override;
    int pictureWidth(int streamIndex) const override;
    int pictureHeight(int streamIndex) const override;
    qint64 fileSize() const override;
    qint64 durationMicros() const override;
    QString formatName() const;

    bool positionAtTime(qint64 micros, int flags) override;
    bool step(int frames) override;
    qint64 currentTime() const override;
    // Searches on a thread of its own, with a reader of its own (FrameFinder).
    void findFrameBefore(qint64 micros, FrameFound found) override;

private:
    void dropBackgroundOpen();
    bool openDecoder();
    // Decodes from the key frame before the time up to the first frame after it, collecting
    // the start times of the frames on the way.
    bool decodeAround(qint64 micros);
    bool decodeFrom(qint64 micros, qint64 seekMicros);
    qint64 frameTimeMicros(const AVFrame *frame) const;
    qint64 startOffsetMicros() const;

    AvInputPtr m_format;
    AvCodecPtr m_decoder;
    QString m_path;
    QString m_error;
    qint64 m_fileSize = -1;
    QList<qint64> m_frameTimes; // start times of the decoded frames up to the target
    int m_current = -1; // index into m_frameTimes
    std::unique_ptr<FrameFinder> m_finder; // made on the first search
    std::shared_ptr<BackgroundOpen> m_backgroundOpen; // the one whose answer counts
};
