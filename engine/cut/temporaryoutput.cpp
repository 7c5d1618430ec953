#include "temporaryoutput.h"

#include "avprobe.h"
#include "timecode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDefaultNameMax = 255;
// A file that lasts less than this share of the range asked for is a wrong result.
constexpr double kShortestShare = 0.5;
constexpr qint64 kCheckedLengthMicros = 1000000; // shorter ranges are checked for data only

const QString kPrefix = QStringLiteral(".snipora-");

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// ".snipora-PID-TAG" with an optional ".EXT"; the PID is the owning process.
const QRegularExpression &temporaryPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.snipora-(\\d{1,10})-[0-9a-f]{8}(\\..*)?$"));
    return pattern;
}

bool processIsGone(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

int removeStale(int folderFd)
{
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return 0;
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return 0;
    }
    ::rewinddir(dir);
    int removed = 0;
    const qint64 self = ::getpid();
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        const auto match = temporaryPattern().match(name);
        if (!match.hasMatch())
            continue;
        const qint64 owner = match.captured(1).toLongLong();
        if (owner == self || !processIsGone(owner))
            continue;
        struct stat st;
        if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && ::unlinkat(folderFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

// Renames within the folder, failing with EEXIST instead of replacing. Returns 0 or the errno.
int renameWithoutReplacing(int folderFd, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // The file system cannot rename without replacing; a hard link fails on a taken name.
    if (::linkat(folderFd, from.constData(), folderFd, to.constData(), 0) == 0) {
        ::unlinkat(folderFd, from.constData(), 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // No hard links either (FAT, some network shares): claim the name exclusively, then move
    // the file over the empty claim, which is ours.
    const int claim
        = ::openat(folderFd, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (claim < 0)
        return errno;
    ::close(claim);
    if (::renameat(folderFd, from.constData(), folderFd, to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(folderFd, to.constData(), 0);
    return error;
}

// "name-2.ext", "name-3.ext", ... shortened to fit the folder's name limit.
QString alternativeName(const QString &finalName, int number, int nameMax)
{
    const QFileInfo info(finalName);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString base = info.completeBaseName();
    const QString tag = QLatin1Char('-') + QString::number(number);
    while (!base.isEmpty() && QFile::encodeName(base + tag + suffix).size() > nameMax)
        base.chop(1);
    return base + tag + suffix;
}

} // namespace

TemporaryOutput::~TemporaryOutput()
{
    discard();
}

int TemporaryOutput::maximumNameBytes(const QString &folder)
{
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return max > 0 && max < 65536 ? int(max) : kDefaultNameMax;
}

Outcome TemporaryOutput::begin(const QString &finalPath)
{
    discard();
    const QFileInfo final(finalPath);
    const QString folder = final.absolutePath();
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const Error error { ErrorCode::DestinationUnusable,
                            QStringLiteral("The destination folder cannot be opened: %1 (%2)")
                                .arg(folder, systemError(errno)) };
        if (fd >= 0)
            ::close(fd);
        return error;
    }
    m_folderFd = fd;
    m_folderDevice = st.st_dev;
    m_folderInode = st.st_ino;
    m_folderPath = folder;
    m_finalPath = final.absoluteFilePath();
    m_finalName = final.fileName();

    removeStale(m_folderFd);

    const QString suffix = final.suffix().isEmpty() ? QString() : QLatin1Char('.') + final.suffix();
    const QString owner = QString::number(::getpid());
    QString name;
    do {
        const QString tag = QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                     QLatin1Char('0'));
        name = kPrefix + owner + QLatin1Char('-') + tag + suffix;
    } while (::fstatat(m_folderFd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW)
             == 0);
    if (QFile::encodeName(name).size() > maximumNameBytes(folder)) {
        const Error error {
            ErrorCode::BadRequest,
            QStringLiteral("The extension of %1 is too long to write the file.").arg(m_finalName)
        };
        close();
        return error;
    }
    m_temporaryName = name;
    return {};
}

QString TemporaryOutput::temporaryPath() const
{
    if (!isActive())
        return QString();
    return m_folderPath.endsWith(QLatin1Char('/'))
        ? m_folderPath + m_temporaryName
        : m_folderPath + QLatin1Char('/') + m_temporaryName;
}

bool TemporaryOutput::folderStillThere() const
{
    if (!isActive())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(m_folderPath).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && quint64(st.st_dev) == m_folderDevice && quint64(st.st_ino) == m_folderInode;
}

Outcome TemporaryOutput::commit(qint64 expectedMicros, bool replace)
{
    if (!isActive())
        return Error { ErrorCode::BadRequest, QStringLiteral("There is no output to save.") };
    if (Outcome checked = checkResult(expectedMicros); !checked) {
        discard();
        return checked;
    }
    return replace ? saveReplacing() : saveKeeping();
}

Outcome TemporaryOutput::checkResult(qint64 expectedMicros) const
{
    if (!folderStillThere()) {
        return Error { ErrorCode::DestinationUnusable,
                       QStringLiteral("The destination folder %1 was moved or removed during the "
                                      "conversion; nothing was saved.")
                           .arg(m_folderPath) };
    }
    struct stat st;
    if (::fstatat(m_folderFd, QFile::encodeName(m_temporaryName).constData(), &st,
                  AT_SYMLINK_NOFOLLOW)
            != 0
        || !S_ISREG(st.st_mode) || st.st_size == 0) {
        return Error {
            ErrorCode::EncoderFailed,
            QStringLiteral("Nothing was saved as %1: the encoder wrote nothing.").arg(m_finalPath)
        };
    }
    const Result<MediaFileInfo> inspected = InspectMediaFile(temporaryPath());
    if (!inspected || !inspected.value().hasPackets) {
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("Nothing was saved as %1: the result holds no audio or "
                                      "video (the range may lie beyond the data of the input).")
                           .arg(m_finalPath) };
    }
    const MediaFileInfo &info = inspected.value();
    if (expectedMicros >= kCheckedLengthMicros && info.durationMicros >= 0
        && double(info.durationMicros) < kShortestShare * double(expectedMicros)) {
        return Error { ErrorCode::EncoderFailed,
                       QStringLiteral("Nothing was saved as %3: the result lasts %1 s of the %2 s "
                                      "asked for (the input's data may end early).")
                           .arg(NumberText(std::round(info.durationMicros / 1e5) / 10),
                                NumberText(std::round(expectedMicros / 1e5) / 10), m_finalPath) };
    }
    return {};
}

Outcome TemporaryOutput::saveReplacing()
{
    const QByteArray temporary = QFile::encodeName(m_temporaryName);
    const QByteArray final = QFile::encodeName(m_finalName);
    if (::renameat(m_folderFd, temporary.constData(), m_folderFd, final.constData()) != 0) {
        const Error error { ErrorCode::DestinationUnusable,
                            QStringLiteral("The output could not be saved as %1: %2")
                                .arg(m_finalPath, systemError(errno)) };
        discard();
        return error;
    }
    m_temporaryName.clear();
    close();
    return {};
}

Outcome TemporaryOutput::saveKeeping()
{
    const QByteArray temporary = QFile::encodeName(m_temporaryName);
    int result = renameWithoutReplacing(m_folderFd, temporary, QFile::encodeName(m_finalName));
    if (result == 0) {
        m_temporaryName.clear();
        close();
        return {};
    }
    if (result != EEXIST) {
        const Error error { ErrorCode::DestinationUnusable,
                            QStringLiteral("The output could not be saved as %1: %2")
                                .arg(m_finalPath, systemError(result)) };
        discard();
        return error;
    }
    // Someone else wrote a file of that name while the cut was being made: both stay.
    const int nameMax = maximumNameBytes(m_folderPath);
    for (int n = 2; n < 100; ++n) {
        const QString other = alternativeName(m_finalName, n, nameMax);
        result = renameWithoutReplacing(m_folderFd, temporary, QFile::encodeName(other));
        if (result == 0) {
            const Error error {
                ErrorCode::OutputExists,
                QStringLiteral("%1 appeared while the cut was being made and was left as it is; "
                               "the cut was saved as %2 instead.")
                    .arg(m_finalPath, QFileInfo(m_finalPath).absoluteDir().filePath(other))
            };
            m_temporaryName.clear();
            close();
            return error;
        }
        if (result != EEXIST)
            break;
    }
    const Error error { ErrorCode::OutputExists,
                        QStringLiteral("%1 appeared while the cut was being made and was left as "
                                       "it is; the cut could not be saved beside it.")
                            .arg(m_finalPath) };
    discard();
    return error;
}

void TemporaryOutput::discard()
{
    if (m_folderFd >= 0 && !m_temporaryName.isEmpty())
        ::unlinkat(m_folderFd, QFile::encodeName(m_temporaryName).constData(), 0);
    m_temporaryName.clear();
    close();
}

void TemporaryOutput::close()
{
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = -1;
    m_folderDevice = 0;
    m_folderInode = 0;
    m_folderPath.clear();
}
