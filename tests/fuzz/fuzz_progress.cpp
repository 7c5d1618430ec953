// ffmpeg's progress output in arbitrary pieces, and the progress arithmetic on arbitrary
// numbers: no crash, and the figures keep their form.
#include "progress.h"
#include "progressparser.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ProgressParser parser;
    size_t offset = 0;
    size_t piece = 1;
    while (offset < size) {
        const size_t n = std::min(piece, size - offset);
        for (const ProgressParser::Block &b :
             parser.feed(QByteArray(reinterpret_cast<const char *>(data + offset), qsizetype(n)))) {
            const ProgressUpdate u = ComputeProgress(b.totalSize, b.outTimeUs, 10000000, 12.0, 2.0);
            if (u.ok
                && (u.percent < 0 || u.percent > 100
                    || !u.estimatedSize.endsWith(QLatin1String(" MB"))))
                __builtin_trap();
        }
        offset += n;
        piece = piece * 3 % 17 + 1;
    }
    if (size >= 3 * sizeof(qint64) + sizeof(double)) {
        qint64 v[3];
        double now;
        std::memcpy(v, data, sizeof v);
        std::memcpy(&now, data + sizeof v, sizeof now);
        const ProgressUpdate u = ComputeProgress(v[0], v[1], v[2], now, 1.0);
        if (u.ok && (u.percent < 0 || u.percent > 100))
            __builtin_trap();
        (void)FormatMegabytes(now);
    }
    return 0;
}
