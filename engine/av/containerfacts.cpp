#include "containerfacts.h"

#include <QHash>

bool HasNoSeekIndex(const QString &inputFormatName)
{
    static const char *const formats[]
        = { "mpegts", "mpegtsraw", "mpeg", "mpegvideo", "h264", "hevc", "m4v", "ogg", "dv", "rm" };
    const QString first = inputFormatName.section(QLatin1Char(','), 0, 0);
    for (const char *f : formats) {
        if (first == QLatin1String(f))
            return true;
    }
    return false;
}

QString MuxerForInputFormat(const QString &inputFormatName)
{
    static const QHash<QString, QString> table {
        { QStringLiteral("mov"), QStringLiteral("mp4") },
        { QStringLiteral("matroska"), QStringLiteral("matroska") },
        { QStringLiteral("aac"), QStringLiteral("adts") },
        { QStringLiteral("mpeg"), QStringLiteral("mpeg") },
        { QStringLiteral("mpegvideo"), QStringLiteral("mpeg1video") },
    };
    const QString first = inputFormatName.section(QLatin1Char(','), 0, 0);
    return table.value(first, first);
}
