#include "avprobe.h"

#include "framefinder.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>

namespace {

QByteArray avPath(const QString &path)
{
    // The "file:" protocol keeps names with a colon from being read as another protocol.
    return QByteArrayLiteral("file:") + QFile::encodeName(QFileInfo(path).absoluteFilePath());
}

// The reason a path is no file to read, without the path ("File not found"); the callers say
// which file.
bool checkReadableFile(const QString &path, QString *reason)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        *reason = QStringLiteral("File not found");
        return false;
    }
    if (info.isDir()) {
        *reason = QStringLiteral("This is a folder, not a media file");
        return false;
    }
    // A pipe or a device would block the reader or never end; neither is a file to cut.
    if (!info.isFile()) {
        *reason = QStringLiteral("Not a regular file (a pipe, device or socket)");
        return false;
    }
    if (!info.isReadable()) {
        *reason = QStringLiteral("The file cannot be read");
        return false;
    }
    if (info.size() == 0) {
        *reason = QStringLiteral("The file is empty");
        return false;
    }
    return true;
}

// Opens and reads the stream information. The sentence as above, without the full stop:
// SourceUnreadable for a file that cannot be opened as media, SourceDamaged for one whose
// streams cannot be read.
Result<AvInputPtr> openFormat(const QString &path)
{
    QString reason;
    if (!checkReadableFile(path, &reason))
        return Error { ErrorCode::SourceUnreadable, reason };
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, avPath(path).constData(), nullptr, nullptr) < 0)
        return Error { ErrorCode::SourceUnreadable,
                       QStringLiteral("Not a media file, or a damaged one") };
    AvInputPtr ctx(opened);
    if (avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return Error { ErrorCode::SourceDamaged,
                       QStringLiteral("Not a media file, or a damaged one") };
    return ctx;
}

// The same for a caller that keeps the sentence: null with it in *reason.
AvInputPtr openFormat(const QString &path, QString *reason)
{
    Result<AvInputPtr> opened = openFormat(path);
    if (!opened) {
        *reason = opened.error().sentence;
        return nullptr;
    }
    return std::move(opened).value();
}

int countStreams(const AVFormatContext *ctx, AVMediaType type)
{
    int n = 0;
    for (unsigned i = 0; ctx && i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == type
            && !(ctx->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++n;
    }
    return n;
}

} // namespace

Result<MediaFileInfo> InspectMediaFile(const QString &path)
{
    Result<AvInputPtr> opened = openFormat(path);
    if (!opened)
        return Error { opened.code(), opened.error().sentence + QLatin1Char('.') };
    const AvInputPtr owned = std::move(opened).value();
    AVFormatContext *ctx = owned.get();
    MediaFileInfo result;
    MediaFileInfo *info = &result;
    info->formatName = QString::fromLatin1(ctx->iformat->name);
    info->durationMicros = ctx->duration == AV_NOPTS_VALUE ? -1 : qint64(ctx->duration);
    info->videoStreams = countStreams(ctx, AVMEDIA_TYPE_VIDEO);
    info->audioStreams = countStreams(ctx, AVMEDIA_TYPE_AUDIO);
    // ffmpeg's own pick: the largest picture and the most channels, a stream marked as the
    // default one first.
    constexpr qint64 kDefaultBonus = 5000000;
    qint64 bestVideo = -1;
    qint64 bestAudio = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream *stream = ctx->streams[i];
        const AVCodecParameters *par = stream->codecpar;
        const qint64 bonus = stream->disposition & AV_DISPOSITION_DEFAULT ? kDefaultBonus : 0;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            && qint64(par->width) * par->height + bonus > bestVideo) {
            bestVideo = qint64(par->width) * par->height + bonus;
            info->width = par->width;
            info->height = par->height;
            const AVRational rate = av_guess_frame_rate(ctx, stream, nullptr);
            info->frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO
                   && par->ch_layout.nb_channels + bonus > bestAudio) {
            bestAudio = par->ch_layout.nb_channels + bonus;
            info->audioChannels = par->ch_layout.nb_channels;
            info->sampleRate = par->sample_rate;
        }
    }
    const AvPacketPtr packet = MakePacket();
    info->hasPackets = packet && av_read_frame(ctx, packet.get()) >= 0;
    if (info->videoStreams == 0 && info->audioStreams == 0)
        return Error { ErrorCode::NotPossible, QStringLiteral("No audio or video stream.") };
    return result;
}

bool HasMuxerForExtension(const QString &extension)
{
    if (extension.isEmpty())
        return false;
    const QByteArray name = QByteArrayLiteral("output.") + extension.toUtf8();
    return av_guess_format(nullptr, name.constData(), nullptr) != nullptr;
}

// An open read on a pool thread. The thread fills format and error, then queues finish onto
// the application's thread; finish is set and cleared on that thread only.
struct BackgroundOpen
{
    QString path;
    AvInputPtr format;
    QString error;
    std::function<void()> finish;
};

AvProbe::AvProbe() = default;

AvProbe::~AvProbe()
{
    m_finder.reset();
    close();
}

void AvProbe::dropBackgroundOpen()
{
    if (m_backgroundOpen)
        m_backgroundOpen->finish = nullptr;
    m_backgroundOpen.reset();
}

void AvProbe::openInBackground(const QString &path, Opened opened)
{
    dropBackgroundOpen();
    auto job = std::make_shared<BackgroundOpen>();
    job->path = path;
    job->finish = [this, job = std::weak_ptr(job), opened = std::move(opened)] {
        const std::shared_ptr<BackgroundOpen> done = job.lock();
        if (!done || done != m_backgroundOpen)
            return;
        m_backgroundOpen.reset();
        close();
        m_format = std::move(done->format);
        if (!m_format) {
            m_error = done->error + QStringLiteral(": ") + done->path;
            opened(false);
            return;
        }
        m_path = done->path;
        m_fileSize = QFileInfo(m_path).size();
        if (m_finder)
            m_finder->setFile(m_path);
        opened(true);
    };
    m_backgroundOpen = job;
    QThreadPool::globalInstance()->start([job] {
        job->format = openFormat(job->path, &job->error);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [job] {
                if (job->finish)
                    job->finish();
            },
            Qt::QueuedConnection);
    });
}

bool AvProbe::open(const QString &path, const QString &options)
{
    Q_UNUSED(options);
    close();
    m_format = openFormat(path, &m_error);
    if (!m_format) {
        m_error += QStringLiteral(": ") + path;
        return false;
    }
    m_path = path;
    m_fileSize = QFileInfo(path).size();
    if (m_finder)
        m_finder->setFile(m_path);
    return true;
}

void AvProbe::close()
{
    dropBackgroundOpen();
    m_decoder.reset();
    m_format.reset();
    m_path.clear();
    m_fileSize = -1;
    m_frameTimes.clear();
    m_current = -1;
    if (m_finder)
        m_finder->setFile(QString());
}

int AvProbe::videoStreamIndex() const
{
    if (!m_format)
        return -1;
    const int i = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    return i >= 0 ? i : -1;
}

int AvProbe::audioStreamIndex() const
{
    if (!m_format)
        return -1;
    const int i = av_find_best_stream(m_format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    return i >= 0 ? i : -1;
}

int AvProbe::videoStreamCount() const
{
    return countStreams(m_format.get(), AVMEDIA_TYPE_VIDEO);
}

int AvProbe::audioStreamCount() const
{
    return countStreams(m_format.get(), AVMEDIA_TYPE_AUDIO);
}

int AvProbe::channelCount(int streamIndex) const
{
    if (!m_format || streamIndex < 0 || unsigned(streamIndex) >= m_format->nb_streams)
        return 0;
    return m_format->streams[streamIndex]->codecpar->ch_layout.nb_channels;
}

int AvProbe::pictureWidth(int streamIndex) const
{
    if (!m_format || streamIndex < 0 || unsigned(streamIndex) >= m_format->nb_streams)
        return 0;
    return m_format->streams[streamIndex]->codecpar->width;
}

int AvProbe::pictureHeight(int streamIndex) const
{
    if (!m_format || streamIndex < 0 || unsigned(streamIndex) >= m_format->nb_streams)
        return 0;
    return m_format->streams[streamIndex]->codecpar->height;
}

qint64 AvProbe::fileSize() const
{
    return m_fileSize;
}

qint64 AvProbe::durationMicros() const
{
    return (m_format && m_format->duration != AV_NOPTS_VALUE) ? qint64(m_format->duration) : -1;
}

QString AvProbe::formatName() const
{
    return m_format ? QString::fromLatin1(m_format->iformat->name) : QString();
}

qint64 AvProbe::startOffsetMicros() const
{
    return (m_format && m_format->start_time != AV_NOPTS_VALUE) ? m_format->start_time : 0;
}

bool AvProbe::openDecoder()
{
    if (m_decoder)
        return true;
    const int index = videoStreamIndex();
    if (index < 0)
        return false;
    const AVCodecParameters *par = m_format->streams[index]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        return false;
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), par) < 0
        || avcodec_open2(m_decoder.get(), codec, nullptr) < 0) {
        m_decoder.reset();
        return false;
    }
    return true;
}

qint64 AvProbe::frameTimeMicros(const AVFrame *frame) const
{
    const AVStream *stream = m_format->streams[videoStreamIndex()];
    const qint64 ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        return -1;
    return av_rescale_q(ts, stream->time_base, AV_TIME_BASE_Q) - startOffsetMicros();
}

bool AvProbe::decodeAround(qint64 micros)
{
    if (!m_format || !openDecoder())
        return false;
    // Some containers (MPEG-TS) seek by byte estimates and may land after the time asked
    // for: seek again further back until a frame at or before the time is decoded.
    for (qint64 margin = 0; margin <= 64000000; margin = margin ? margin * 2 : 500000) {
        if (decodeFrom(micros, std::max<qint64>(0, micros - margin)))
            return true;
        if (micros - margin <= 0)
            break;
    }
    return false;
}

bool AvProbe::decodeFrom(qint64 micros, qint64 seekMicros)
{
    const int index = videoStreamIndex();
    const AVStream *stream = m_format->streams[index];
    const qint64 target
        = av_rescale_q(seekMicros + startOffsetMicros(), AV_TIME_BASE_Q, stream->time_base);
    if (av_seek_frame(m_format.get(), index, target, AVSEEK_FLAG_BACKWARD) < 0
        && av_seek_frame(m_format.get(), index, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    avcodec_flush_buffers(m_decoder.get());
    m_frameTimes.clear();
    m_current = -1;

    const AvPacketPtr packetHandle = MakePacket();
    const AvFramePtr frameHandle = MakeFrame();
    AVPacket *packet = packetHandle.get();
    AVFrame *frame = frameHandle.get();
    if (!packet || !frame)
        return false;
    bool passed = false;
    bool draining = false;
    while (!passed) {
        if (!draining) {
            const int r = av_read_frame(m_format.get(), packet);
            if (r < 0) {
                draining = true;
                avcodec_send_packet(m_decoder.get(), nullptr);
            } else {
                if (packet->stream_index == index)
                    avcodec_send_packet(m_decoder.get(), packet);
                av_packet_unref(packet);
            }
        }
        for (;;) {
            const int r = avcodec_receive_frame(m_decoder.get(), frame);
            if (r < 0)
                break;
            const qint64 t = frameTimeMicros(frame);
            av_frame_unref(frame);
            if (t < 0)
                continue;
            if (t > micros) {
                // Kept as the frame a forward step goes to; not the current one.
                if (!passed)
                    m_frameTimes << t;
                passed = true;
                break;
            }
            m_frameTimes << t;
        }
        if (draining)
            break;
    }
    m_current = -1;
    for (int i = 0; i < m_frameTimes.size(); ++i) {
        if (m_frameTimes.at(i) <= micros)
            m_current = i;
    }
    return m_current >= 0;
}

bool AvProbe::positionAtTime(qint64 micros, int flags)
{
    Q_UNUSED(flags);
    return decodeAround(std::max<qint64>(0, micros));
}

bool AvProbe::step(int frames)
{
    if (m_current < 0)
        return false;
    const int wanted = m_current + frames;
    if (wanted >= 0 && wanted < m_frameTimes.size()) {
        m_current = wanted;
        return true;
    }
    if (frames < 0) {
        // Before the decoded run: decode again from an earlier key frame.
        const qint64 before = m_frameTimes.at(m_current) - 1;
        if (before < 0)
            return false;
        if (!decodeAround(before))
            return false;
        return frames + 1 == 0 ? true : step(frames + 1);
    }
    // Forward past the decoded run: decode on from the last frame known.
    const int moved = int(m_frameTimes.size()) - 1 - m_current;
    const qint64 last = m_frameTimes.last();
    if (!decodeAround(last) || m_current + 1 >= m_frameTimes.size())
        return false;
    return step(frames - moved);
}

qint64 AvProbe::currentTime() const
{
    if (m_current < 0 || m_current >= m_frameTimes.size())
        return 0;
    return m_frameTimes.at(m_current);
}

void AvProbe::findFrameBefore(qint64 micros, FrameFound found)
{
    if (!m_finder) {
        m_finder = std::make_unique<FrameFinder>();
        m_finder->setFile(m_path);
    }
    m_finder->findFrameBefore(micros, std::move(found));
}
