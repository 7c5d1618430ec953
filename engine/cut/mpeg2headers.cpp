#include "mpeg2headers.h"

#include <algorithm>

namespace {

constexpr char kPicture = char(0x00);
constexpr char kGop = char(0xb8);

// The offset of the first byte after the next start code 00 00 01 `code` at or after `from`
// whose header has `bytes` bytes after it; -1: none.
qsizetype findHeader(const QByteArray &data, char code, qsizetype from, qsizetype bytes)
{
    const QByteArray prefix("\0\0\1", 3);
    for (qsizetype at = data.indexOf(prefix, from); at >= 0; at = data.indexOf(prefix, at + 3)) {
        if (at + 3 < data.size() && data.at(at + 3) == code)
            return at + 4 + bytes <= data.size() ? at + 4 : -1;
    }
    return -1;
}

// Drop-frame time code (at 30 a second) skips picture numbers 0 and 1 at the start of each
// minute but every tenth: 17982 pictures in ten minutes, 1798 in each of the nine later ones.
qint64 toDropFrameLabel(qint64 frame)
{
    const qint64 tens = frame / 17982;
    const qint64 rest = frame % 17982;
    return frame + 18 * tens + (rest >= 2 ? 2 * ((rest - 2) / 1798) : 0);
}

qint64 fromDropFrameLabel(qint64 label)
{
    const qint64 minutes = label / (60 * 30);
    return label - 2 * (minutes - minutes / 10);
}

} // namespace

namespace Mpeg2Headers {

bool hasGopHeader(const QByteArray &data)
{
    return findHeader(data, kGop, 0, 4) >= 0;
}

int temporalReference(const QByteArray &data)
{
    const qsizetype at = findHeader(data, kPicture, 0, 2);
    if (at < 0)
        return -1;
    // temporal_reference: the first 10 bits of the picture header.
    return (uchar(data.at(at)) << 2) | (uchar(data.at(at + 1)) >> 6);
}

QByteArray withGopFlags(QByteArray data, bool closedGop, bool brokenLink)
{
    // time_code (25 bits), closed_gop, broken_link: the flags are bits 6 and 5 of byte 3.
    const qsizetype at = findHeader(data, kGop, 0, 4);
    if (at < 0)
        return data;
    const uchar b
        = (uchar(data.at(at + 3)) & ~0x60) | (closedGop ? 0x40 : 0) | (brokenLink ? 0x20 : 0);
    data[at + 3] = char(b);
    return data;
}

QByteArray withTimeCode(QByteArray data, qint64 frame, int framesPerSecond)
{
    const qsizetype at = findHeader(data, kGop, 0, 4);
    if (at < 0 || framesPerSecond <= 0 || frame < 0)
        return data;
    quint32 word = (quint32(uchar(data.at(at))) << 24) | (quint32(uchar(data.at(at + 1))) << 16)
        | (quint32(uchar(data.at(at + 2))) << 8) | uchar(data.at(at + 3));
    const bool drop = word >> 31;
    const qint64 label = drop && framesPerSecond == 30 ? toDropFrameLabel(frame) : frame;
    const qint64 seconds = label / framesPerSecond;
    const quint32 pictures = quint32(label % framesPerSecond);
    const quint32 hours = quint32(seconds / 3600 % 24);
    const quint32 minutes = quint32(seconds / 60 % 60);
    const quint32 secs = quint32(seconds % 60);
    // drop_frame_flag, hours (5), minutes (6), marker, seconds (6), pictures (6), then the flags.
    word = (word & 0x8000007f) | (hours << 26) | (minutes << 20) | (1u << 19) | (secs << 13)
        | (pictures << 7);
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((word >> (24 - 8 * i)) & 0xff);
    return data;
}

qint64 timeCodeFrame(const QByteArray &data, int framesPerSecond)
{
    const qsizetype at = findHeader(data, kGop, 0, 4);
    if (at < 0 || framesPerSecond <= 0)
        return -1;
    const quint32 word = (quint32(uchar(data.at(at))) << 24)
        | (quint32(uchar(data.at(at + 1))) << 16) | (quint32(uchar(data.at(at + 2))) << 8)
        | uchar(data.at(at + 3));
    const qint64 seconds
        = qint64((word >> 26) & 31) * 3600 + ((word >> 20) & 63) * 60 + ((word >> 13) & 63);
    const qint64 label = seconds * framesPerSecond + ((word >> 7) & 63);
    return (word >> 31) && framesPerSecond == 30 ? fromDropFrameLabel(label) : label;
}

QByteArray withTemporalShift(QByteArray data, int shift)
{
    if (shift == 0)
        return data;
    for (qsizetype at = findHeader(data, kPicture, 0, 2); at >= 0;
         at = findHeader(data, kPicture, at, 2)) {
        const int tr = (uchar(data.at(at)) << 2) | (uchar(data.at(at + 1)) >> 6);
        const int shifted = std::max(0, tr - shift);
        data[at] = char(shifted >> 2);
        data[at + 1] = char(((shifted & 3) << 6) | (uchar(data.at(at + 1)) & 0x3f));
    }
    return data;
}

} // namespace Mpeg2Headers
