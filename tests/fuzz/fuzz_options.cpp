// The option dialect: tokenising and translating arbitrary option strings never crash, and a
// translation that succeeds never hands ffmpeg an option without its value or a filter on a
// copied stream.
#include "containerfacts.h"
#include "optiontranslator.h"

#include <cmath>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString all = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = all.indexOf(QLatin1Char('|'));
    const QString input = split < 0 ? QString() : all.left(split);
    const QString rest = split < 0 ? all : all.mid(split + 1);
    const qsizetype split2 = rest.indexOf(QLatin1Char('|'));
    const QString output = split2 < 0 ? rest : rest.left(split2);
    const QString extension = split2 < 0 ? QStringLiteral("mp4") : rest.mid(split2 + 1, 8);

    (void)TokenizeOptions(all);
    const Result<TranslatedOptions> r
        = TranslateOptions(input, output, extension, QStringLiteral("mov,mp4"));
    if (r) {
        const TranslatedOptions &t = r.value();
        const QStringList &out = t.outputArgs;
        // Walking the list as ffmpeg does, an option that takes a value always has one, and a
        // copied video stream (the last -vcodec is "copy") never gets a filter.
        static const QStringList needsValue {
            "-ss",        "-t",       "-vcodec",  "-c:v",     "-codec:v",     "-acodec", "-c:a",
            "-codec:a",   "-b:v",     "-b:a",     "-ar",      "-ac",          "-s",      "-r",
            "-aspect",    "-vf",      "-af",      "-target",  "-f",           "-preset", "-pix_fmt",
            "-profile:v", "-level:v", "-maxrate", "-bufsize", "-map_chapters"
        };
        bool copyVideo = false;
        bool filter = false;
        for (qsizetype i = 0; i < out.size(); ++i) {
            if (needsValue.contains(out.at(i))) {
                if (i + 1 >= out.size())
                    __builtin_trap();
                if (out.at(i) == QLatin1String("-vcodec") || out.at(i) == QLatin1String("-c:v")
                    || out.at(i) == QLatin1String("-codec:v"))
                    copyVideo = out.at(i + 1) == QLatin1String("copy");
                if (out.at(i) == QLatin1String("-vf"))
                    filter = true;
                ++i;
            }
        }
        if (copyVideo && filter)
            __builtin_trap();
        if (t.inputArgs.contains(QStringLiteral("-ss")) && !std::isfinite(t.startSeconds))
            __builtin_trap();
    } else if (r.error().sentence.isEmpty()) {
        __builtin_trap();
    }
    (void)MuxerForInputFormat(all);
    return 0;
}
