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
