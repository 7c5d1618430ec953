#include "nalbits.h"

namespace NalBits {

QByteArray toRbsp(const QByteArray &unit)
{
    QByteArray out;
    out.reserve(unit.size());
    int zeros = 0;
    for (const char c : unit) {
        const uchar b = uchar(c);
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.append(char(b));
    }
    return out;
}

QByteArray fromRbsp(const QByteArray &rbsp)
{
    QByteArray out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (const char c : rbsp) {
        const uchar b = uchar(c);
        if (zeros >= 2 && b <= 3) {
            out.append(char(3));
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.append(char(b));
    }
    if (!out.isEmpty() && out.back() == 0)
        out.append(char(3));
    return out;
}

qsizetype stopBit(const QByteArray &rbsp)
{
    for (qsizetype i = rbsp.size() - 1; i >= 0; --i) {
        const uchar b = uchar(rbsp.at(i));
        if (b == 0)
            continue;
        int lowest = 0;
        while (!((b >> lowest) & 1))
            ++lowest;
        return i * 8 + 7 - lowest;
    }
    return -1;
}

} // namespace NalBits
