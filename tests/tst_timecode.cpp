#include "timecode.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>

class TestTimeCode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void format_data();
    void format();
    void formatIgnoresLocale();
    void parse_data();
    void parse();
    void roundTripWholeTenths();
    void typed_data();
    void typed();
    void timeOrSeconds_data();
    void timeOrSeconds();
    void int64Helpers_data();
    void int64Helpers();
    void roundHalfEven_data();
    void roundHalfEven();
    void numberText_data();
    void numberText();
    void fileExtension_data();
    void fileExtension();
    void megabytes();
    void folderExists();
};

void TestTimeCode::format_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00:00:00.0";
    QTest::newRow("tenths are cut, not rounded") << 12.96 << "00:00:12.9";
    QTest::newRow("12.3 stored as 12.2999...") << 12.3 << "00:00:12.3";
    QTest::newRow("59.99") << 59.99 << "00:00:59.9";
    QTest::newRow("one minute") << 60.0 << "00:01:00.0";
    QTest::newRow("59:59.9") << 3599.9 << "00:59:59.9";
    QTest::newRow("one hour") << 3600.0 << "01:00:00.0";
    QTest::newRow("3723.46") << 3723.46 << "01:02:03.4";
    QTest::newRow("100 hours") << 360000.0 << "100:00:00.0";
    QTest::newRow("1000 hours") << 3600000.5 << "1000:00:00.5";
    QTest::newRow("negative") << -5.0 << "00:00:00.0";
    QTest::newRow("small negative keeps no fraction") << -0.5 << "00:00:00.0";
    QTest::newRow("tiny positive in exponent form") << 1.5e-5 << "00:00:00.0";
    QTest::newRow("nan") << std::nan("") << "00:00:00.0";
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "00:00:00.0";
    QTest::newRow("tenths of a tenths scale") << 4567.8 << "01:16:07.8";
    // The whole seconds and the tenths come from one decimal text: 5.999999999999999 is 6.
    QTest::newRow("end minus start of marks") << 12.12 - 6.12 << "00:00:06.0";
    QTest::newRow("marks an hour in") << 3641.06 - 3599.96 << "00:00:41.1";
}

void TestTimeCode::format()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatTimeCode(seconds), text);
}

void TestTimeCode::formatIgnoresLocale()
{
    // A comma-decimal locale must not change the point or the tenths.
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const QByteArray saved = previous ? QByteArray(previous) : QByteArray("C");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    QCOMPARE(FormatTimeCode(12.3), QStringLiteral("00:00:12.3"));
    QCOMPARE(ParseTimeCode(QStringLiteral("00:00:12.5")), 12.5);
    QCOMPARE(NumberText(12.5), QStringLiteral("12.5"));
    std::setlocale(LC_NUMERIC, saved.constData());
    QLocale::setDefault(QLocale::c());
}

void TestTimeCode::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds");
    QTest::newRow("full") << "01:02:03.4" << 3723.4;
    QTest::newRow("zero") << "00:00:00.0" << 0.0;
    QTest::newRow("placeholders") << "__:__:__._" << 0.0;
    QTest::newRow("one-digit minutes lose their minutes") << "1:2:3" << 3603.0;
    QTest::newRow("no colon") << "12345" << 0.0;
    QTest::newRow("one colon") << "12:34" << 0.0;
    QTest::newRow("three hour digits") << "100:00:00.0" << 360000.0;
    QTest::newRow("partly typed seconds") << "00:01:__._" << 60.0;
    QTest::newRow("partly typed hours") << "0_:01:02.0" << 62.0;
    QTest::newRow("blanks and sign") << " 1:00: +5.5" << 3605.5;
    QTest::newRow("not a number in seconds") << "00:01:1e3" << 60.0;
    QTest::newRow("inf is not a number") << "inf:00:01" << 1.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("seconds past 59 still count") << "00:00:75.0" << 75.0;
}

void TestTimeCode::parse()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    QCOMPARE(ParseTimeCode(text), seconds);
}

// A time box's text ("_" where nothing was typed), read as far as it is typed; -1: no time.
void TestTimeCode::typed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds");
    QTest::newRow("complete") << "01:02:03.4" << 3723.4;
    QTest::newRow("seconds partly typed") << "00:00:1_._" << 1.0;
    QTest::newRow("tenths not typed") << "00:01:20._" << 80.0;
    QTest::newRow("seconds not typed") << "00:01:__._" << 60.0;
    QTest::newRow("one digit") << "5_:__:__._" << -1.0;
    QTest::newRow("minutes partly typed") << "00:1_:__._" << -1.0;
    QTest::newRow("cleared") << "__:__:__._" << -1.0;
    QTest::newRow("a gap") << "00:00:_5.0" << -1.0;
    QTest::newRow("hours past two digits") << "100:00:00.0" << 360000.0;
    QTest::newRow("not a time code") << "garbage" << -1.0;
    QTest::newRow("blanks around") << " 00:00:12.5 " << 12.5;
}

void TestTimeCode::typed()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    double read = -1;
    QCOMPARE(ReadTypedTimeCode(text, &read) ? read : -1.0, seconds);
}

// Times given on the command line or in a list file; -1 for a refusal.
void TestTimeCode::timeOrSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds");
    QTest::newRow("time code") << "01:02:03.5" << 3723.5;
    QTest::newRow("long hours") << "123:00:00" << 442800.0;
    QTest::newRow("seconds") << "12.5" << 12.5;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("point last") << "7." << 7.0;
    QTest::newRow("blanks") << " 3 " << 3.0;
    QTest::newRow("minutes of 60") << "00:60:00" << -1.0;
    QTest::newRow("one-digit seconds") << "00:00:5" << -1.0;
    QTest::newRow("comma") << "1,5" << -1.0;
    QTest::newRow("negative") << "-1" << -1.0;
    QTest::newRow("exponent") << "1e3" << -1.0;
    QTest::newRow("huge") << QString(400, QLatin1Char('9')) << qInf();
}

void TestTimeCode::timeOrSeconds()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    double read = -1;
    QCOMPARE(ReadTimeOrSeconds(text, &read) ? read : -1.0, seconds);
}

void TestTimeCode::roundTripWholeTenths()
{
    for (qint64 tenths = 0; tenths < 400000; tenths += 137) {
        const double seconds = double(tenths) / 10.0;
        QCOMPARE(ParseTimeCode(FormatTimeCode(seconds)) * 10.0, double(tenths));
        // The length between two marks a whole number of tenths apart, wherever they sit.
        for (const double offset : { 0.12, 6.12, 0.37, 3599.99, 86399.96 }) {
            const double length = (offset + seconds) - offset;
            QCOMPARE(FormatTimeCode(length), FormatTimeCode(seconds));
        }
    }
}

void TestTimeCode::int64Helpers_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("positive");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << 0.0 << false << "0";
    QTest::newRow("12.5 s") << qint64(12500000) << 12.5 << true << "12500000";
    QTest::newRow("2^31 - 1") << qint64(2147483647) << 2147.483647 << true << "2147483647";
    QTest::newRow("2^31") << qint64(2147483648LL) << 2147.483648 << true << "N/A";
    QTest::newRow("past 32 bits") << qint64(10000000000LL) << 10000.0 << true << "N/A";
    QTest::newRow("negative") << qint64(-1) << -0.000001 << false << "N/A";
    QTest::newRow("large negative") << qint64(-5000000000LL) << -5000.0 << false << "N/A";
}

void TestTimeCode::int64Helpers()
{
    QFETCH(qint64, value);
    QFETCH(double, seconds);
    QFETCH(bool, positive);
    QFETCH(QString, text);
    const qint32 low = Int64LowHalf(value);
    const qint32 high = Int64HighHalf(value);
    QCOMPARE(Int64FromHalves(low, high), value);
    QCOMPARE(Int64ToSeconds(low, high), seconds);
    QCOMPARE(Int64IsPositive(low, high), positive);
    QCOMPARE(Int64ToText(low, high), text);
}

void TestTimeCode::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("rounded");
    QTest::newRow("2.5") << 2.5 << qint64(2);
    QTest::newRow("3.5") << 3.5 << qint64(4);
    QTest::newRow("-2.5") << -2.5 << qint64(-2);
    QTest::newRow("2.4999") << 2.4999 << qint64(2);
    QTest::newRow("nan") << std::nan("") << qint64(0);
    QTest::newRow("too large") << 1e30 << qint64(0);
}

void TestTimeCode::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(qint64, rounded);
    QCOMPARE(RoundHalfEven(value), rounded);
}

void TestTimeCode::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 30.0 << "30";
    QTest::newRow("half") << 12.5 << "12.5";
    QTest::newRow("below one") << 0.5 << "0.5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
    QTest::newRow("tenths arithmetic") << 305.0 / 10.0 << "30.5";
    QTest::newRow("15 digits") << 0.1 + 0.2 << "0.3";
    QTest::newRow("tiny without exponent") << 0.000015 << "0.000015";
    QTest::newRow("large without exponent") << 1e16 << "10000000000000000";
    QTest::newRow("negative") << -90.0 << "-90";
}

void TestTimeCode::numberText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(NumberText(value), text);
}

void TestTimeCode::fileExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::newRow("plain") << "/a/clip.mp4"
                           << "MP4";
    QTest::newRow("dot only in a folder") << "/a.b/clip"
                                          << "";
    QTest::newRow("trailing dot") << "clip."
                                  << "";
    QTest::newRow("two dots") << "/v/my.clip.Mkv"
                              << "MKV";
    QTest::newRow("hidden file") << "/v/.rmvb"
                                 << "RMVB";
    QTest::newRow("no folder") << "clip.webm"
                               << "WEBM";
    QTest::newRow("empty") << ""
                           << "";
}

void TestTimeCode::fileExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QCOMPARE(FileExtension(path), extension);
}

void TestTimeCode::megabytes()
{
    QCOMPARE(BytesToMegabytes(1048576), 1.0);
    QCOMPARE(BytesToMegabytes(1572864), 1.5);
    QCOMPARE(BytesToMegabytes(0), 0.0);
    QCOMPARE(BytesToMegabytes(3LL * 1024 * 1024 * 1024), 3072.0);
}

void TestTimeCode::folderExists()
{
    const QString before = QDir::currentPath();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(FolderExists(dir.path() + QLatin1Char('/')));
    QCOMPARE(QDir::currentPath(), before); // asked, never entered
    QVERIFY(!FolderExists(dir.path() + QStringLiteral("/missing/")));
    QVERIFY(!FolderExists(QString()));
    // A file is not a folder.
    QFile file(dir.filePath(QStringLiteral("f.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!FolderExists(file.fileName()));

    // Relative folders are taken from the working folder once, and come back clean.
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString here = QDir::currentPath();
    QCOMPARE(AbsoluteFolder(QStringLiteral(".")), here + QLatin1Char('/'));
    QCOMPARE(AbsoluteFolder(QStringLiteral("..")),
             QFileInfo(here).absolutePath() + QLatin1Char('/'));
    QCOMPARE(AbsoluteFolder(QStringLiteral("out/")), here + QStringLiteral("/out/"));
    QCOMPARE(AbsoluteFolder(QStringLiteral("/tmp/./x/../")), QStringLiteral("/tmp/"));
    QCOMPARE(AbsoluteFolder(QString()), QString());
    QDir::setCurrent(before);
}

QTEST_APPLESS_MAIN(TestTimeCode)
#include "tst_timecode.moc"
