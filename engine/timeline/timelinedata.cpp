#include "timelinedata.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;
// No list in a cache file is longer; a longer count is damage, not data to allocate for.
constexpr qint64 kMaxItems = qint64(1) << 26;
constexpr int kMaxSide = 4096;

bool readTimes(QDataStream &in, QList<qint64> *times)
{
    qint64 count = -1;
    in >> count;
    if (in.status() != QDataStream::Ok || count < 0 || count > kMaxItems)
        return false;
    times->resize(count);
    for (qint64 &t : *times)
        in >> t;
    return in.status() == QDataStream::Ok && std::is_sorted(times->cbegin(), times->cend());
}

void writeTimes(QDataStream &out, const QList<qint64> &times)
{
    out << qint64(times.size());
    for (const qint64 t : times)
        out << t;
}

} // namespace

QByteArray KeyFrameList::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    writeTimes(out, keyFrames);
    writeTimes(out, frameTimes);
    out << frameCount << durationMicros << fromContainerIndex;
    return bytes;
}

bool KeyFrameList::fromBytes(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(kStreamVersion);
    KeyFrameList read;
    if (!readTimes(in, &read.keyFrames) || !readTimes(in, &read.frameTimes))
        return false;
    in >> read.frameCount >> read.durationMicros >> read.fromContainerIndex;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    *this = read;
    return true;
}

QByteArray ThumbnailSet::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << qint32(height) << qint64(thumbnails.size());
    for (const Thumbnail &t : thumbnails) {
        const QImage image = t.image.convertToFormat(QImage::Format_RGB32);
        out << t.requestedMicros << t.frameMicros << qint32(image.width())
            << qint32(image.height());
        for (int y = 0; y < image.height(); ++y)
            out.writeRawData(reinterpret_cast<const char *>(image.constScanLine(y)),
                             image.width() * 4);
    }
    return bytes;
}

bool ThumbnailSet::fromBytes(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(kStreamVersion);
    ThumbnailSet read;
    qint32 h = 0;
    qint64 count = -1;
    in >> h >> count;
    if (in.status() != QDataStream::Ok || count < 0 || count > kMaxItems)
        return false;
    read.height = h;
    for (qint64 i = 0; i < count; ++i) {
        Thumbnail t;
        qint32 width = 0;
        qint32 height = 0;
        in >> t.requestedMicros >> t.frameMicros >> width >> height;
        if (in.status() != QDataStream::Ok || width < 1 || height < 1 || width > kMaxSide
            || height > kMaxSide || qint64(width) * height * 4 > bytes.size())
            return false;
        t.image = QImage(width, height, QImage::Format_RGB32);
        if (t.image.isNull())
            return false;
        for (int y = 0; y < height; ++y) {
            if (in.readRawData(reinterpret_cast<char *>(t.image.scanLine(y)), width * 4)
                != width * 4)
                return false;
        }
        read.thumbnails << t;
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    *this = read;
    return true;
}

qint64 ThumbnailSet::imageBytes() const
{
    qint64 sum = 0;
    for (const Thumbnail &t : thumbnails)
        sum += t.image.sizeInBytes();
    return sum;
}

QByteArray WaveformData::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << bucketsPerSecond << qint32(streamIndex) << qint32(sampleRate) << qint32(channels)
        << qint64(peaks.size());
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const WaveformPeak &p : peaks)
        out << p.low << p.high;
    return bytes;
}

bool WaveformData::fromBytes(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(kStreamVersion);
    WaveformData read;
    qint32 stream = 0;
    qint32 rate = 0;
    qint32 channels = 0;
    qint64 count = -1;
    double perSecond = 0;
    in >> perSecond >> stream >> rate >> channels >> count;
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    if (in.status() != QDataStream::Ok || count < 0 || count > kMaxItems || count * 8 > bytes.size()
        || !(perSecond > 0))
        return false;
    read.bucketsPerSecond = perSecond;
    read.streamIndex = stream;
    read.sampleRate = rate;
    read.channels = channels;
    read.peaks.resize(count);
    for (WaveformPeak &p : read.peaks)
        in >> p.low >> p.high;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    *this = read;
    return true;
}
