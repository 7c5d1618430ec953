#include "timelinecache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <sys/stat.h>

namespace {

const QByteArray kMagic = QByteArrayLiteral("SNPTLC\x00\x01");
const QString kSuffix = QStringLiteral(".tlc");
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;

// What tells this file apart from every other and from its own earlier contents; "" when the
// file cannot be looked at.
QString identity(const QString &sourcePath)
{
    const QString path = QFileInfo(sourcePath).canonicalFilePath();
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QStringLiteral("%1\n%2 %3 %4.%5 %6")
        .arg(path)
        .arg(qint64(st.st_size))
        .arg(quint64(st.st_dev))
        .arg(qint64(st.st_mtim.tv_sec))
        .arg(qint64(st.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
        .arg(quint64(st.st_ino));
}

QByteArray digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

} // namespace

TimelineCache::TimelineCache()
    : TimelineCache(defaultFolder(), kDefaultMaxBytes)
{
}

TimelineCache::TimelineCache(const QString &folder, qint64 maxBytes)
    : m_folder(folder)
    , m_maxBytes(std::max<qint64>(0, maxBytes))
{
}

TimelineCache TimelineCache::disabled()
{
    return TimelineCache(QString(), 0);
}

QString TimelineCache::defaultFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/timeline");
}

QString TimelineCache::entryPath(const QString &sourcePath, const QString &kind) const
{
    const QString id = identity(sourcePath);
    if (!isEnabled() || id.isEmpty())
        return {};
    const QByteArray name = digest((kind + QLatin1Char('\n') + id).toUtf8()).toHex();
    return m_folder + QLatin1Char('/') + QString::fromLatin1(name) + kSuffix;
}

QByteArray TimelineCache::load(const QString &sourcePath, const QString &kind) const
{
    const QString path = entryPath(sourcePath, kind);
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(kMagic.size()) != kMagic)
        return {};
    QDataStream in(&file);
    in.setVersion(kStreamVersion);
    QString storedIdentity;
    QString storedKind;
    QByteArray payload;
    QByteArray storedDigest;
    in >> storedIdentity >> storedKind >> payload >> storedDigest;
    if (in.status() != QDataStream::Ok || !file.atEnd() || storedIdentity != identity(sourcePath)
        || storedKind != kind || storedDigest != digest(payload))
        return {};
    // Marks the entry as used now: trimming removes the entries used least recently.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    return payload;
}

bool TimelineCache::store(const QString &sourcePath, const QString &kind,
                          const QByteArray &payload) const
{
    const QString path = entryPath(sourcePath, kind);
    if (path.isEmpty() || !QDir().mkpath(m_folder))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(kMagic);
    QDataStream out(&file);
    out.setVersion(kStreamVersion);
    out << identity(sourcePath) << kind << payload << digest(payload);
    if (out.status() != QDataStream::Ok || !file.commit())
        return false;
    trim();
    return true;
}

void TimelineCache::trim() const
{
    // Counted with the temporary files of writes under way (their names begin like an entry's).
    QFileInfoList entries = QDir(m_folder).entryInfoList({ QLatin1Char('*') + kSuffix + '*' },
                                                         QDir::Files | QDir::Hidden);
    qint64 total = 0;
    for (const QFileInfo &entry : entries)
        total += entry.size();
    if (total <= m_maxBytes)
        return;
    std::sort(entries.begin(), entries.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.lastModified() < b.lastModified();
    });
    // Down to three quarters of the bound, so that the next few stores do not trim again.
    for (const QFileInfo &entry : entries) {
        if (total <= m_maxBytes / 4 * 3)
            break;
        if (QFile::remove(entry.filePath()))
            total -= entry.size();
    }
}
