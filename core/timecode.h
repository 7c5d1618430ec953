#pragma once

#include <QString>
#include <QtGlobal>

// Time codes and small numeric helpers. All functions are pure except the folder helpers,
// which ask the file system (and never change the working folder).
//
// Time-code text is hours (two digits at least, growing without limit), ":", minutes (two
// digits), ":", seconds (two digits), ".", tenths (one digit): "00:00:00.0" is zero.
// The media components count time in signed 64-bit microseconds; the program computes in
// seconds (double) and the position slider in tenths of a second.

// Seconds to time-code text. The seconds and the tenths digit are read from one decimal text of
// the value rounded to the microsecond; the tenths are cut, never rounded, so 12.96 gives
// "00:00:12.9" and 12.3 gives "00:00:12.3" even though 12.3 is stored as 12.2999..., and
// 12.12 - 6.12 (5.999999999999999) gives "00:00:06.0". Negative, infinite and NaN values give
// "00:00:00.0".
QString FormatTimeCode(double seconds);

// Time-code text to seconds: hours before the first ":", minutes in the two characters after
// it, seconds (with an optional fraction) after the second ":". A part that is not a plain
// decimal number counts as 0; a text without two colons gives 0. The decimal point is "."
// whatever the locale.
double ParseTimeCode(const QString &text);

// A time code typed into a time box, whose places not typed yet show "_" ("00:00:1_._"), read
// as far as it is typed: the digits from the left, through the minutes at least, without a
// gap ("00:00:1_._" is 1 s, "00:01:__._" 60 s). False for what is no time at all (a cleared
// box, "5_:__:__._", a gap, text of another form); *seconds is then left alone.
bool ReadTypedTimeCode(const QString &text, double *seconds);

// A time as a user gives it outside the time boxes (on the command line, in a list file): a
// time code as the program writes it (hours of any length, minutes and seconds of two digits
// below 60, optional fraction) or a plain number of seconds with a point. False for anything
// else. A number too large for a double is infinity: past the end of any input.
bool ReadTimeOrSeconds(const QString &text, double *seconds);

// Joins the two 32-bit halves (low first) of a signed 64-bit count.
qint64 Int64FromHalves(qint32 low, qint32 high);
qint32 Int64LowHalf(qint64 value);
qint32 Int64HighHalf(qint64 value);

// Microseconds to seconds, divided by 10,000 and then by 100 in double arithmetic.
double Int64ToSeconds(qint32 low, qint32 high);
double Int64ToSeconds(qint64 micros);
bool Int64IsPositive(qint32 low, qint32 high);
// Decimal text of the value when it lies in 0..2147483647, otherwise "N/A".
QString Int64ToText(qint32 low, qint32 high);

// Seconds to microseconds, rounded to the nearest microsecond with ties to the even one.
qint64 SecondsToMicros(double seconds);

// Nearest integer with halves to the even neighbour (2.5 -> 2, 3.5 -> 4). Values outside the
// 64-bit range, and NaN, give 0.
qint64 RoundHalfEven(double value);

// The shortest decimal text of a double at 15 significant digits, "." as the point, no
// exponent, no trailing zeros or point, "0" before the point below 1: 30 -> "30",
// 12.5 -> "12.5", 0.5 -> "0.5".
QString NumberText(double value);

// The text after the last "." of the file name, upper-cased, when that "." stands after the
// last path separator; otherwise "". "/a/clip.mp4" -> "MP4", "/a.b/clip" -> "", "clip." -> "".
QString FileExtension(const QString &path);

// Bytes to megabytes (bytes / 1024 / 1024), no rounding.
double BytesToMegabytes(qint64 bytes);

// True when the path is a folder the process may enter. The working folder never changes.
bool FolderExists(const QString &path);

// The folder as an absolute, clean path ending in the separator, a relative one being taken
// from the working folder at this moment ("out", "." and ".." included); "" stays "".
QString AbsoluteFolder(const QString &folder);

// The estimated video bit rate of a file in kbit/s: its bits over its length (in tenths of a
// second), computed as round(size / 1e6 / 1024 * 1e7), then round(that / tenths * 8), halves
// to even; 40 less when the file has audio. 0 when the size or the length is unknown.
int EstimateSourceBitrateKbps(qint64 fileSize, double durationTenths, int audioStreams);

// The platform's path separator as the program writes it at the end of folder texts.
QChar PathSeparator();
// True when the character separates folders on this platform ("/" here; "\" or "/" on Windows).
bool IsPathSeparator(QChar c);
