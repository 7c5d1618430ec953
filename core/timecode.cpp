#include "timecode.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

QString twoDigits(qint64 n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

// A plain decimal number with optional surrounding blanks and sign; anything else is 0.
double plainNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    const QString t = text.trimmed();
    if (!pattern.match(t).hasMatch())
        return 0.0;
    bool ok = false;
    const double v = t.toDouble(&ok); // QString::toDouble always uses the C locale
    return ok ? v : 0.0;
}

} // namespace

QString FormatTimeCode(double seconds)
{
    const QString zero = QStringLiteral("00:00:00.0");
    // Negative values would otherwise keep their fraction ("-0.5" would read "00:00:00.5").
    if (!std::isfinite(seconds) || seconds < 0)
        return zero;

    // The whole seconds and the tenths digit come from one decimal text of the value rounded
    // to the microsecond, the finest time the media components know: both then agree
    // (5.999999999999999 is 6, not 5 seconds and a tenths digit of 0), and the length between
    // two marks a whole number of tenths apart reads exactly however far into the file they
    // sit. The tenths are cut from that text, never rounded: 12.96 gives ".9", 12.3 (stored as
    // 12.2999...) ".3".
    const QString text = QString::number(seconds, 'f', 6);
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    const QString fraction = text.mid(dot, 2);
    const QStringView digits = QStringView(text).left(dot);
    // Beyond 18 digits the count is no longer a 64-bit number; no media lasts that long.
    const qint64 total = digits.size() > 18 ? qint64(9000000000000000000LL) : digits.toLongLong();
    if (total < 60)
        return QStringLiteral("00:00:") + twoDigits(total) + fraction;

    qint64 minutes = total / 60;
    const qint64 secs = total % 60;
    qint64 hours = 0;
    if (minutes >= 60) {
        hours = minutes / 60;
        minutes %= 60;
    }
    return twoDigits(hours) + QLatin1Char(':') + twoDigits(minutes) + QLatin1Char(':')
        + twoDigits(secs) + fraction;
}

double ParseTimeCode(const QString &text)
{
    const qsizetype first = text.indexOf(QLatin1Char(':'));
    if (first < 0)
        return 0.0;
    const qsizetype second = text.indexOf(QLatin1Char(':'), first + 1);
    if (second < 0)
        return 0.0;
    const double hours = plainNumber(text.left(first));
    const double minutes = plainNumber(text.mid(first + 1, 2));
    const double seconds = plainNumber(text.mid(second + 1));
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

bool ReadTypedTimeCode(const QString &text, double *seconds)
{
    static const QRegularExpression form(
        QStringLiteral("^([0-9_]{2,}):([0-9_]{2}):([0-9_]{2})\\.([0-9_])$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    const QString places = m.captured(1) + m.captured(2) + m.captured(3) + m.captured(4);
    const qsizetype blank = places.indexOf(QLatin1Char('_'));
    if (blank >= 0) {
        // Typed from the left through the minutes, and nothing typed after the first blank.
        if (blank < m.capturedLength(1) + 2)
            return false;
        for (qsizetype i = blank; i < places.size(); ++i) {
            if (places.at(i) != QLatin1Char('_'))
                return false;
        }
    }
    const auto number = [](QString field) {
        field.remove(QLatin1Char('_'));
        return field.isEmpty() ? 0.0 : field.toDouble();
    };
    *seconds = number(m.captured(1)) * 3600.0 + number(m.captured(2)) * 60.0 + number(m.captured(3))
        + number(m.captured(4)) / 10.0;
    return true;
}

qint64 Int64FromHalves(qint32 low, qint32 high)
{
    const quint64 bits = (quint64(quint32(high)) << 32) | quint64(quint32(low));
    return qint64(bits);
}

qint32 Int64LowHalf(qint64 value)
{
    return qint32(quint32(quint64(value) & 0xffffffffu));
}

qint32 Int64HighHalf(qint64 value)
{
    return qint32(quint32(quint64(value) >> 32));
}

double Int64ToSeconds(qint64 micros)
{
    return double(micros) / 10000.0 / 100.0;
}

double Int64ToSeconds(qint32 low, qint32 high)
{
    return Int64ToSeconds(Int64FromHalves(low, high));
}

bool Int64IsPositive(qint32 low, qint32 high)
{
    return Int64FromHalves(low, high) > 0;
}

QString Int64ToText(qint32 low, qint32 high)
{
    if (high == 0 && low >= 0)
        return QString::number(low);
    return QStringLiteral("N/A");
}

qint64 RoundHalfEven(double value)
{
    // 2^63 is exactly representable; anything at or beyond it (and NaN) has no 64-bit result.
    constexpr double limit = 9223372036854775808.0;
    if (!(value > -limit && value < limit))
        return 0;
    const int mode = std::fegetround();
    if (mode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    if (mode != FE_TONEAREST)
        std::fesetround(mode);
    if (!(r > -limit && r < limit))
        return 0;
    return qint64(r);
}

qint64 SecondsToMicros(double seconds)
{
    return RoundHalfEven(seconds * 1000000.0);
}

QString NumberText(double value)
{
    if (!std::isfinite(value) || value == 0.0)
        return QStringLiteral("0");
    const QString g = QString::number(value, 'g', 15);
    if (!g.contains(QLatin1Char('e')))
        return g;
    // Exponent form: write the same 15 significant digits in fixed notation.
    const int exponent = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 14 - exponent);
    QString f = QString::number(value, 'f', decimals);
    if (f.contains(QLatin1Char('.'))) {
        while (f.endsWith(QLatin1Char('0')))
            f.chop(1);
        if (f.endsWith(QLatin1Char('.')))
            f.chop(1);
    }
    return f;
}

QChar PathSeparator()
{
#ifdef Q_OS_WIN
    return QLatin1Char('\\');
#else
    return QLatin1Char('/');
#endif
}

bool IsPathSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
#else
    return c == QLatin1Char('/');
#endif
}

QString FileExtension(const QString &path)
{
    qsizetype sep = -1;
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (IsPathSeparator(path.at(i))) {
            sep = i;
            break;
        }
    }
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < sep)
        return QString();
    return path.mid(dot + 1).toUpper();
}

double BytesToMegabytes(qint64 bytes)
{
    return double(bytes) / 1024.0 / 1024.0;
}

bool FolderExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Asked of the file system, never by entering the folder: the working folder of the
    // program must not change behind the back of every relative path it holds.
    const QFileInfo info(path);
    return info.isDir() && info.isExecutable();
}

QString AbsoluteFolder(const QString &folder)
{
    if (folder.isEmpty())
        return folder;
    QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    if (!IsPathSeparator(absolute.back()))
        absolute += PathSeparator();
    return absolute;
}

int EstimateSourceBitrateKbps(qint64 fileSize, double durationTenths, int audioStreams)
{
    if (fileSize < 0 || !(durationTenths > 0))
        return 0;
    const double kilobyteTenths
        = double(RoundHalfEven(double(fileSize) / 1000000.0 / 1024.0 * 10000000.0));
    const double kbps = kilobyteTenths / durationTenths * 8.0;
    if (!std::isfinite(kbps) || kbps > 2147483647.0)
        return 0;
    int result = int(RoundHalfEven(kbps));
    if (audioStreams > 0)
        result -= 40;
    return result;
}

bool ReadTimeOrSeconds(const QString &text, double *seconds)
{
    static const QRegularExpression code(QStringLiteral("^\\d+:[0-5]\\d:[0-5]\\d(\\.\\d+)?$"));
    static const QRegularExpression number(QStringLiteral("^\\d+(\\.\\d*)?$|^\\.\\d+$"));
    const QString t = text.trimmed();
    if (code.match(t).hasMatch()) {
        *seconds = ParseTimeCode(t);
    } else if (number.match(t).hasMatch()) {
        bool ok = false;
        *seconds = t.toDouble(&ok);
        if (!ok || !std::isfinite(*seconds))
            *seconds = std::numeric_limits<double>::infinity();
    } else {
        return false;
    }
    return true;
}
