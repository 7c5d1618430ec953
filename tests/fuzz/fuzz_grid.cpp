// The advanced settings grid: arbitrary edits of arbitrary items never crash, and after every
// edit the five validated items hold a form the argument builder can use.
#include "advancedsettings.h"

#include <QRegularExpression>

#include <cstdint>

namespace {

bool valid(const AdvancedSettings &grid)
{
    static const QRegularExpression bitrate(QStringLiteral("^(Auto|\\d*|\\d*[kK])$"));
    static const QRegularExpression digits(QStringLiteral("^(Auto|\\d*)$"));
    static const QRegularExpression number(
        QStringLiteral("^(Auto|[+-]?(\\d+(\\.\\d*)?|\\.\\d+))$"));
    static const QRegularExpression aspect(QStringLiteral("^(Auto|\\d*:\\d*)$"));
    auto matches = [&](const QRegularExpression &re, const char *caption) {
        return re.match(grid.value(QString::fromLatin1(caption))).hasMatch();
    };
    if (!matches(bitrate, "Video Bitrate") || !matches(bitrate, "Audio Bitrate")
        || !matches(digits, "Sample Rate") || !matches(number, "Frame Rate (FPS)")
        || !matches(aspect, "Aspect Rate"))
        return false;
    const int rotate = grid.number(QStringLiteral("Rotate"));
    if (rotate < -270 || rotate > 270)
        return false;
    for (const char *margin : { "Top", "Bottom", "Left", "Right" })
        if (grid.number(QString::fromLatin1(margin)) < 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static AdvancedSettings *grid = [] {
        auto *g = new AdvancedSettings;
        g->build();
        return g;
    }();
    const QList<AdvancedSettings::Item> &items = grid->items();
    size_t i = 0;
    while (i + 2 <= size) {
        const int which = data[i] % int(items.size());
        const size_t length = std::min<size_t>(data[i + 1] % 24, size - i - 2);
        const QString value
            = QString::fromLatin1(reinterpret_cast<const char *>(data + i + 2), qsizetype(length));
        grid->userEdit(items.at(which).caption, value);
        if (!valid(*grid))
            __builtin_trap();
        i += 2 + length;
    }
    return 0;
}
