#pragma once

#include <QByteArray>

// Bit-level access to the payload of H.264 and HEVC NAL units: emulation prevention bytes
// removed and put back, Exp-Golomb and fixed-width fields read and written.
namespace NalBits {

// The unit with the emulation prevention bytes removed (the header bytes stay).
QByteArray toRbsp(const QByteArray &unit);
// The unit with emulation prevention bytes: no 00 00 0x (x <= 3) inside it, and no 00 at its
// end.
QByteArray fromRbsp(const QByteArray &rbsp);
// The position of the stop bit (the last one bit) of an RBSP; -1 when there is none.
qsizetype stopBit(const QByteArray &rbsp);

// Reads fields from an RBSP; a read past its end makes ok() false and gives zeros.
class Reader
{
public:
    explicit Reader(const QByteArray &rbsp, qsizetype byteOffset = 0)
        : m_data(rbsp)
        , m_pos(byteOffset * 8)
    {
    }
    bool ok() const { return m_ok; }
    qsizetype pos() const { return m_pos; }
    qsizetype size() const { return m_data.size() * 8; }
    unsigned bit()
    {
        if (m_pos >= size()) {
            m_ok = false;
            return 0;
        }
        const unsigned v = (uchar(m_data.at(m_pos / 8)) >> (7 - m_pos % 8)) & 1;
        ++m_pos;
        return v;
    }
    unsigned bits(int n)
    {
        unsigned v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    unsigned ue()
    {
        int zeros = 0;
        while (m_ok && bit() == 0) {
            if (++zeros > 31) {
                m_ok = false;
                return 0;
            }
        }
        return m_ok ? (zeros == 0 ? 0u : unsigned((1ull << zeros) - 1 + bits(zeros))) : 0;
    }
    int se()
    {
        const unsigned v = ue();
        return (v & 1) ? int((v + 1) / 2) : -int(v / 2);
    }
    void skip(qsizetype n)
    {
        m_pos += n;
        if (m_pos > size())
            m_ok = false;
    }
    bool byteAligned() const { return m_pos % 8 == 0; }
    // Whole bytes from a byte boundary.
    QByteArray bytes(qsizetype n)
    {
        const QByteArray out = m_data.mid(m_pos / 8, n);
        skip(n * 8);
        return out;
    }

private:
    QByteArray m_data; // implicitly shared with the caller's
    qsizetype m_pos = 0;
    bool m_ok = true;
};

class Writer
{
public:
    void bit(unsigned v)
    {
        if (m_bits % 8 == 0)
            m_data.append(char(0));
        if (v & 1)
            m_data[m_data.size() - 1] = char(uchar(m_data.back()) | (0x80 >> (m_bits % 8)));
        ++m_bits;
    }
    void bits(int n, unsigned v)
    {
        for (int i = n - 1; i >= 0; --i)
            bit((v >> i) & 1);
    }
    void ue(unsigned v)
    {
        const quint64 x = quint64(v) + 1;
        int length = 0;
        while ((x >> length) > 1)
            ++length;
        bits(length, 0);
        for (int i = length; i >= 0; --i)
            bit(unsigned(x >> i) & 1);
    }
    void se(int v) { ue(v > 0 ? unsigned(2 * v - 1) : unsigned(-2 * qint64(v))); }
    bool byteAligned() const { return m_bits % 8 == 0; }
    // Copies the reader's bits from its position up to (not including) bit `end`.
    void copy(Reader &r, qsizetype end)
    {
        if ((r.pos() - m_bits) % 8 == 0) {
            // In step with the reader: whole bytes once both are at a byte boundary.
            while (r.pos() < end && r.ok() && !r.byteAligned())
                bit(r.bit());
            const qsizetype bytes = (end - r.pos()) / 8;
            if (bytes > 0 && r.ok()) {
                m_data.append(r.bytes(bytes));
                m_bits += bytes * 8;
            }
        }
        while (r.pos() < end && r.ok())
            bit(r.bit());
    }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    void trailing()
    {
        bit(1);
        while (!byteAligned())
            bit(0);
    }
    QByteArray data() const { return m_data; }

private:
    QByteArray m_data;
    qsizetype m_bits = 0;
};

} // namespace NalBits
