// Time codes: parsing arbitrary text and formatting arbitrary doubles never crash, and what
// they give keeps its form.
#include "timecode.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const double seconds = ParseTimeCode(text);
    if (std::isnan(seconds))
        __builtin_trap();

    static const QRegularExpression form(QStringLiteral("^\\d{2,}:\\d\\d:\\d\\d\\.\\d$"));
    if (!form.match(FormatTimeCode(seconds)).hasMatch())
        __builtin_trap();
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        if (!form.match(FormatTimeCode(value)).hasMatch())
            __builtin_trap();
        const QString number = NumberText(value);
        if (number.contains(QLatin1Char('e')) || number.isEmpty())
            __builtin_trap();
        // A whole number of tenths survives formatting and parsing.
        if (std::isfinite(value) && value >= 0 && value < 1e9) {
            const double tenths = std::floor(value * 10.0) / 10.0;
            if (std::abs(ParseTimeCode(FormatTimeCode(tenths)) - tenths) > 1e-6)
                __builtin_trap();
        }
        (void)FileExtension(text);
        (void)RoundHalfEven(value);
    }
    return 0;
}
