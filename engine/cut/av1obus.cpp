#include "av1obus.h"

namespace {

// A leb128 field; false past the end or beyond eight bytes.
bool readLeb128(const QByteArray &data, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int i = 0; i < 8; ++i) {
        if (*at >= data.size())
            return false;
        const uchar b = uchar(data.at((*at)++));
        *value |= quint64(b & 0x7f) << (7 * i);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

} // namespace

namespace Av1Obus {

QList<Unit> split(const QByteArray &data)
{
    QList<Unit> units;
    qsizetype at = 0;
    while (at < data.size()) {
        Unit u;
        u.offset = at;
        const uchar header = uchar(data.at(at++));
        if (header & 0x80)
            return {}; // the forbidden bit
        u.type = (header >> 3) & 0xf;
        if (header & 0x04)
            ++at; // the extension byte (temporal and spatial ids)
        quint64 length = 0;
        if (header & 0x02) {
            if (!readLeb128(data, &at, &length))
                return {};
        } else {
            length = quint64(data.size() - std::min(at, data.size()));
        }
        if (at > data.size() || length > quint64(data.size() - at))
            return {};
        u.payload = at;
        at += qsizetype(length);
        u.size = at - u.offset;
        units << u;
    }
    return units;
}

QByteArray sequenceHeader(const QByteArray &data)
{
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader)
            return data.mid(u.offset, u.size);
    }
    return {};
}

QByteArray configSequenceHeader(const QByteArray &extradata)
{
    // av1C: marker bit and version 1, three bytes of fields, then the configOBUs.
    if (extradata.size() >= 4 && uchar(extradata.at(0)) == 0x81)
        return sequenceHeader(extradata.mid(4));
    return sequenceHeader(extradata);
}

bool startsShownKeyFrame(const QByteArray &data)
{
    bool reducedStill = false;
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader && u.payload < data.size())
            reducedStill = (uchar(data.at(u.payload)) >> 3) & 1; // after profile, still_picture
        if (u.type != FrameHeader && u.type != Frame)
            continue;
        if (reducedStill)
            return true; // one key frame, shown
        if (u.payload >= data.size())
            return false;
        // show_existing_frame (1), frame_type (2; 0 is a key frame), show_frame (1)
        const uchar b = uchar(data.at(u.payload));
        return !(b & 0x80) && ((b >> 5) & 3) == 0 && (b & 0x10);
    }
    return false;
}

QByteArray withSequenceHeader(const QByteArray &data, const QByteArray &header)
{
    qsizetype at = 0;
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader)
            return data;
        if (u.type != TemporalDelimiter)
            break;
        at = u.offset + u.size;
    }
    QByteArray joined = data;
    joined.insert(at, header);
    return joined;
}

} // namespace Av1Obus
