#include "nalunits.h"

#include "nalbits.h"

namespace NalUnits {

namespace {

// A reader of the payload after the first `skip` bytes of a unit, with the emulation prevention
// bytes of that part removed.
NalBits::Reader payloadReader(const QByteArray &unit, int skip)
{
    return NalBits::Reader(NalBits::toRbsp(unit.mid(skip)));
}

quint32 readLength(const QByteArray &data, qsizetype at, int size)
{
    quint32 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | uchar(data.at(at + i));
    return v;
}

void appendLength(QByteArray &out, quint32 v, int size)
{
    for (int i = size - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xff));
}

} // namespace

QList<QByteArray> split(const QByteArray &data, int lengthSize)
{
    QList<QByteArray> units;
    if (lengthSize > 0) {
        qsizetype at = 0;
        while (at + lengthSize <= data.size()) {
            const quint32 n = readLength(data, at, lengthSize);
            at += lengthSize;
            const qsizetype take = std::min<qsizetype>(n, data.size() - at);
            if (take > 0)
                units << data.mid(at, take);
            at += take;
        }
        return units;
    }
    // Annex B: units begin after 00 00 01; trailing zero bytes belong to the next start code.
    const qsizetype n = data.size();
    qsizetype start = -1;
    for (qsizetype i = 0; i + 2 < n; ++i) {
        if (data.at(i) == 0 && data.at(i + 1) == 0 && data.at(i + 2) == 1) {
            if (start >= 0) {
                qsizetype end = i;
                while (end > start && data.at(end - 1) == 0)
                    --end;
                if (end > start)
                    units << data.mid(start, end - start);
            }
            start = i + 3;
            i += 2;
        }
    }
    if (start >= 0 && start < n)
        units << data.mid(start);
    return units;
}

QByteArray join(const QList<QByteArray> &units, int lengthSize)
{
    QByteArray out;
    for (const QByteArray &u : units) {
        if (lengthSize > 0)
            appendLength(out, quint32(u.size()), lengthSize);
        else
            out.append("\0\0\0\1", 4);
        out.append(u);
    }
    return out;
}

int h264SpsId(const QByteArray &sps)
{
    if (h264Type(sps) != H264Sps || sps.size() < 5)
        return -1;
    NalBits::Reader r = payloadReader(sps, 4); // after the header, profile, flags and level
    const unsigned id = r.ue();
    return r.ok() && id < 32 ? int(id) : -1;
}

int h264PpsId(const QByteArray &pps)
{
    if (h264Type(pps) != H264Pps || pps.size() < 2)
        return -1;
    NalBits::Reader r = payloadReader(pps, 1);
    const unsigned id = r.ue();
    return r.ok() && id < 256 ? int(id) : -1;
}

int h264RecoveryFrameCount(const QByteArray &sei)
{
    if (h264Type(sei) != H264Sei)
        return -1;
    NalBits::Reader r = payloadReader(sei, 1);
    // sei_message(): payload type and size as runs of 0xff bytes and a last byte.
    auto value = [&r] {
        unsigned v = 0;
        unsigned byte = 0xff;
        while (r.ok() && byte == 0xff && v < (1u << 20)) {
            byte = r.bits(8);
            v += byte;
        }
        return v;
    };
    while (r.ok()) {
        const unsigned type = value();
        const unsigned size = value();
        if (!r.ok())
            return -1;
        if (type == 6) {
            const unsigned count = r.ue();
            return r.ok() ? int(count) : -1;
        }
        for (unsigned i = 0; i < size && r.ok(); ++i)
            r.bits(8);
        if (r.size() - r.pos() <= 8) // only the stop bit is left
            return -1;
    }
    return -1;
}

AvcConfig parseAvcConfig(const QByteArray &record)
{
    AvcConfig c;
    if (!isConfigRecord(record))
        return c;
    c.head = record.left(5);
    c.lengthSize = (uchar(record.at(4)) & 3) + 1;
    qsizetype at = 5;
    auto readSets = [&](int count, QList<QByteArray> &into) {
        for (int i = 0; i < count; ++i) {
            if (at + 2 > record.size())
                return false;
            const int n = int(readLength(record, at, 2));
            at += 2;
            if (at + n > record.size())
                return false;
            if (n > 0) // an empty unit says nothing; written out, it breaks decoders
                into << record.mid(at, n);
            at += n;
        }
        return true;
    };
    if (!readSets(uchar(record.at(at++)) & 0x1f, c.sps) || at >= record.size())
        return c;
    if (!readSets(uchar(record.at(at++)), c.pps))
        return c;
    c.tail = record.mid(at);
    c.ok = c.lengthSize != 3;
    return c;
}

QByteArray buildAvcConfig(const AvcConfig &c)
{
    QByteArray out = c.head;
    out.append(char(0xe0 | (c.sps.size() & 0x1f)));
    for (const QByteArray &s : c.sps) {
        appendLength(out, quint32(s.size()), 2);
        out.append(s);
    }
    out.append(char(c.pps.size() & 0xff));
    for (const QByteArray &p : c.pps) {
        appendLength(out, quint32(p.size()), 2);
        out.append(p);
    }
    out.append(c.tail);
    return out;
}

HevcConfig parseHevcConfig(const QByteArray &record)
{
    HevcConfig c;
    if (!isConfigRecord(record) || record.size() < 23)
        return c;
    c.lengthSize = (uchar(record.at(21)) & 3) + 1;
    const int arrays = uchar(record.at(22));
    qsizetype at = 23;
    for (int a = 0; a < arrays; ++a) {
        if (at + 3 > record.size())
            return c;
        const int count = int(readLength(record, at + 1, 2));
        at += 3;
        for (int i = 0; i < count; ++i) {
            if (at + 2 > record.size())
                return c;
            const int n = int(readLength(record, at, 2));
            at += 2;
            if (at + n > record.size())
                return c;
            if (n > 0)
                c.units << record.mid(at, n);
            at += n;
        }
    }
    c.ok = c.lengthSize != 3;
    return c;
}

QByteArray hevcConfigAllowingInBand(const QByteArray &record)
{
    if (!isConfigRecord(record) || record.size() < 23)
        return record;
    // Rebuilt array by array: the completeness flags cleared, empty units and the arrays left
    // with none dropped.
    QByteArray arrays;
    int kept = 0;
    const int count = uchar(record.at(22));
    qsizetype at = 23;
    for (int a = 0; a < count && at + 3 <= record.size(); ++a) {
        const char type = char(uchar(record.at(at)) & 0x7f);
        const int units = int(readLength(record, at + 1, 2));
        at += 3;
        QByteArray body;
        int nonEmpty = 0;
        for (int i = 0; i < units && at + 2 <= record.size(); ++i) {
            const qsizetype n
                = std::min<qsizetype>(readLength(record, at, 2), record.size() - at - 2);
            if (n > 0) {
                body += record.mid(at, 2 + n);
                ++nonEmpty;
            }
            at += 2 + n;
        }
        if (nonEmpty == 0)
            continue;
        arrays.append(type);
        appendLength(arrays, quint32(nonEmpty), 2);
        arrays += body;
        ++kept;
    }
    return record.left(22) + char(kept) + arrays;
}

} // namespace NalUnits
