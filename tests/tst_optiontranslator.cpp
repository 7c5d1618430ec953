#include "optiontranslator.h"
#include "progressparser.h"

#include <QTest>

// The translation of the program's option dialect to today's ffmpeg, and the progress parser.
class TestOptionTranslator : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tokenize_data();
    void tokenize();
    void translate_data();
    void translate();
    void errors_data();
    void errors();
    void timesAreRead();
    void copyFromUnindexedStartsOnItsKeyFrame();
    void progressBlocks();
    void progressInPieces();
};

void TestOptionTranslator::tokenize_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<bool>("ok");
    QTest::newRow("plain") << "-vb 800k  -ab 128k" << QStringList{"-vb", "800k", "-ab", "128k"} << true;
    QTest::newRow("quoted filter") << "-vf \"crop=600:470:20:10,scale=320:240\" -t 3"
                                   << QStringList{"-vf", "crop=600:470:20:10,scale=320:240", "-t", "3"}
                                   << true;
    QTest::newRow("quoted blank") << "-metadata \"title=a b\"" << QStringList{"-metadata", "title=a b"} << true;
    QTest::newRow("empty quotes") << "-x \"\"" << QStringList{"-x", ""} << true;
    QTest::newRow("empty") << "" << QStringList{} << true;
    QTest::newRow("unbalanced") << "-vf \"vflip" << QStringList{"-vf", "vflip"} << false;
}

void TestOptionTranslator::tokenize()
{
    QFETCH(QString, options);
    QFETCH(QStringList, tokens);
    QFETCH(bool, ok);
    bool parsed = true;
    QCOMPARE(TokenizeOptions(options, &parsed), tokens);
    QCOMPARE(parsed, ok);
}

void TestOptionTranslator::translate_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("inputArgs");
    QTest::addColumn<QString>("outputArgs");
    QTest::addColumn<QString>("inputFormat");

    QTest::newRow("worked example")
        << "-TimeStart 12.5"
        << "-vcodec libx264 -vpre libx264-veryfast -vb 2000k -ab 128k -ar 44100 -s 1280x720 -TimeLength 30"
        << "mp4" << "-ss 12.5"
        << "-vcodec libx264 -preset veryfast -b:v 2000k -b:a 128k -ar 44100 -s 1280x720 -t 30 "
           "-vf trim=end=30,setpts=PTS-STARTPTS"
        << QString();
    QTest::newRow("x264 presets") << "" << "-vcodec libx264 -vpre libx264-default -vpre libx264-ultrafast"
                                  << "mkv" << "" << "-vcodec libx264 -preset medium -preset ultrafast" << QString();
    QTest::newRow("libfaac") << "" << "-f flv -acodec libfaac -ab 128k" << "f4v" << ""
                             << "-f flv -acodec aac -b:a 128k" << QString();
    QTest::newRow("direct copy moves the start before the input")
        << "" << "-vcodec copy -acodec copy -ss 12.5 -t 30" << "mp4" << "-ss 12.5"
        << "-vcodec copy -acodec copy -t 30" << QString();
    QTest::newRow("direct copy drops filters")
        << "" << "-vcodec copy -acodec copy -vf \"vflip,hflip\" -ss 0 -t 3" << "mkv" << "-ss 0"
        << "-vcodec copy -acodec copy -t 3" << QString();
    QTest::newRow("direct copy drops every filter")
        << "" << "-vcodec copy -vf \"vflip\" -an -vf \"hflip\"" << "mkv" << "" << "-vcodec copy -an" << QString();
    QTest::newRow("odd size made even") << "" << "-vb 500k -s 853x481" << "avi" << ""
                                        << "-b:v 500k -s 852x480" << QString();
    QTest::newRow("mp4 without codec is MPEG-4") << "" << "-r 29.97 -vb 512k -ab 128k" << "mp4" << ""
                                                 << "-r 29.97 -b:v 512k -b:a 128k -vcodec mpeg4" << QString();
    QTest::newRow("3gp gets codecs it can carry") << "" << "-vb 60k -ab 6700 -ac 1 -ar 8000 -s 176x144"
                                                  << "3gp" << ""
                                                  << "-b:v 60k -b:a 6700 -ac 1 -ar 8000 -s 176x144 -vcodec mpeg4 -acodec aac" << QString();
    QTest::newRow("3gp without video") << "" << "-vb 60k -ab 6700 -ac 1 -ar 8000 -vn" << "3gp" << ""
                                       << "-b:v 60k -b:a 6700 -ac 1 -ar 8000 -vn -acodec aac" << QString();
    QTest::newRow("audio file is left alone") << "" << "-vn  -ar 44100" << "wav" << "" << "-vn -ar 44100" << QString();
    QTest::newRow("rotate 90") << "" << "-vf \"rotate=90\"" << "mkv" << "" << "-vf transpose=clock" << QString();
    QTest::newRow("rotate -90") << "" << "-vf \"vflip,rotate=-90\"" << "mkv" << ""
                                << "-vf vflip,transpose=cclock" << QString();
    QTest::newRow("rotate 180 and 270") << "" << "-vf \"rotate=180,rotate=270\"" << "mkv" << ""
                                        << "-vf hflip,vflip,transpose=cclock" << QString();
    QTest::newRow("rotate 45") << "" << "-vf \"rotate=45\"" << "mkv" << ""
                               << "-vf rotate=45*PI/180:ow=rotw(45*PI/180):oh=roth(45*PI/180)" << QString();
    QTest::newRow("crop alone is made even") << "" << "-vf \"crop=601:471:19:9\"" << "mkv" << ""
                                             << "-vf crop=601:471:19:9,scale=trunc(iw/2)*2:trunc(ih/2)*2" << QString();
    QTest::newRow("crop then scale") << "" << "-vf \"crop=600:470:20:10,scale=320:240\"" << "mkv" << ""
                                     << "-vf crop=600:470:20:10,scale=320:240" << QString();
    QTest::newRow("no extension: the input's container")
        << "" << "-vcodec copy -acodec copy -ss 1 -t 2" << "" << "-ss 1"
        << "-vcodec copy -acodec copy -t 2 -f mp4" << QString();
    QTest::newRow("dvd norm from the size") << "" << "-target dvd -vb 3300k -s 720x576" << "vob" << ""
                                            << "-target pal-dvd -b:v 3300k -s 720x576" << QString();
    QTest::newRow("dvd norm defaults to NTSC") << "" << "-target dvd -s 720x480" << "vob" << ""
                                               << "-target ntsc-dvd -s 720x480" << QString();
    QTest::newRow("dvd norm from the rate") << "" << "-r 25 -target dvd" << "vob" << ""
                                            << "-r 25 -target pal-dvd" << QString();
    QTest::newRow("named target kept") << "" << "-target ntsc-vcd -vb 1150k" << "mpg" << ""
                                       << "-target ntsc-vcd -b:v 1150k" << QString();
    QTest::newRow("other input options pass") << "-TimeStart 3 -itsoffset 1" << "-an" << "mkv"
                                              << "-itsoffset 1 -ss 3" << "-an" << QString();
    QTest::newRow("transport stream: seek early, then exactly")
        << "-TimeStart 42.5" << "-vcodec libx264 -TimeLength 3" << "mp4" << "-ss 12.5"
        << "-vcodec libx264 -t 3 -af atrim=start=30,asetpts=PTS-STARTPTS "
           "-vf trim=start=30:end=33,setpts=PTS-STARTPTS"
        << "mpegts";
    QTest::newRow("transport stream near its start") << "-TimeStart 12.25" << "-vn -t 1" << "mp3"
        << "-ss 0" << "-vn -t 1 -ss 12.25" << "mpegts";
    QTest::newRow("transport stream copy keeps the input seek")
        << "" << "-vcodec copy -acodec copy -ss 42.5 -t 3" << "ts" << "-ss 42.5"
        << "-vcodec copy -acodec copy -t 3" << "mpegts";
    QTest::newRow("indexed containers seek directly") << "-TimeStart 42.5" << "-t 3" << "mkv"
        << "-ss 42.5" << "-t 3 -vf trim=end=3,setpts=PTS-STARTPTS" << "matroska,webm";
    QTest::newRow("frames of the range ahead of the picture filters")
        << "-TimeStart 2.1" << "-vf \"vflip\" -TimeLength 2.2" << "mkv" << "-ss 2.1"
        << "-t 2.2 -vf trim=end=2.2,setpts=PTS-STARTPTS,vflip" << "matroska,webm";
}

void TestOptionTranslator::translate()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, extension);
    QFETCH(QString, inputArgs);
    QFETCH(QString, outputArgs);
    QFETCH(QString, inputFormat);
    const TranslatedOptions t = TranslateOptions(input, output, extension,
                                                 inputFormat.isEmpty() ? QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2")
                                                                       : inputFormat);
    QVERIFY2(t.ok, qPrintable(t.error));
    QCOMPARE(t.inputArgs.join(QLatin1Char(' ')), inputArgs);
    QCOMPARE(t.outputArgs.join(QLatin1Char(' ')), outputArgs);
}

void TestOptionTranslator::errors_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("unbalanced quote") << "" << "-vf \"vflip";
    QTest::newRow("missing length") << "" << "-vb 800k -TimeLength";
    QTest::newRow("missing start") << "-TimeStart" << "";
    QTest::newRow("length not a number") << "" << "-t abc";
    QTest::newRow("start not a number") << "-TimeStart 1:00" << "";
}

void TestOptionTranslator::errors()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    const TranslatedOptions t = TranslateOptions(input, output, QStringLiteral("mp4"), QString());
    QVERIFY(!t.ok);
    QVERIFY(!t.error.isEmpty());
}

void TestOptionTranslator::timesAreRead()
{
    const TranslatedOptions t = TranslateOptions(QStringLiteral("-TimeStart 12.5"),
                                                 QStringLiteral("-vb 1k -TimeLength 30"),
                                                 QStringLiteral("mp4"), QString());
    QCOMPARE(t.startSeconds, 12.5);
    QCOMPARE(t.lengthSeconds, 30.0);
    const TranslatedOptions none = TranslateOptions(QString(), QStringLiteral("-vn"),
                                                    QStringLiteral("mp3"), QString());
    QCOMPARE(none.startSeconds, 0.0);
    QCOMPARE(none.lengthSeconds, -1.0);
    QCOMPARE(MuxerForInputFormat(QStringLiteral("matroska,webm")), QStringLiteral("matroska"));
    QCOMPARE(MuxerForInputFormat(QStringLiteral("aac")), QStringLiteral("adts"));
    QCOMPARE(MuxerForInputFormat(QStringLiteral("mp3")), QStringLiteral("mp3"));
}

void TestOptionTranslator::copyFromUnindexedStartsOnItsKeyFrame()
{
    // The key frame at 40 s before the start at 42.5 s: entered 30 s early, kept from the key
    // frame on, and the end stays at 45.5 s.
    TranslatedOptions t = TranslateOptions(QString(), QStringLiteral("-vcodec copy -acodec copy -ss 42.5 -t 3"),
                                           QStringLiteral("ts"), QStringLiteral("mpegts"), 40.0);
    QVERIFY(t.ok);
    QVERIFY(t.copiesVideo);
    QCOMPARE(t.inputArgs.join(QLatin1Char(' ')), QStringLiteral("-ss 10"));
    QCOMPARE(t.outputArgs.join(QLatin1Char(' ')), QStringLiteral("-vcodec copy -acodec copy -t 5.5 -ss 30"));
    QCOMPARE(t.lengthSeconds, 5.5);
    // Unknown key frame: the plain input seek.
    t = TranslateOptions(QString(), QStringLiteral("-vcodec copy -ss 42.5 -t 3"), QStringLiteral("ts"),
                         QStringLiteral("mpegts"), -1);
    QCOMPARE(t.inputArgs.join(QLatin1Char(' ')), QStringLiteral("-ss 42.5"));
    QCOMPARE(t.lengthSeconds, 3.0);
}

void TestOptionTranslator::progressBlocks()
{
    ProgressParser parser;
    const QByteArray data = "frame=1\ntotal_size=N/A\nout_time_us=N/A\nprogress=continue\n"
                            "total_size=48\nout_time_us=-23220\nprogress=continue\n"
                            "total_size=1048576\nout_time_us=1500000\nspeed=2x\nprogress=end\n";
    const QList<ProgressParser::Block> blocks = parser.feed(data);
    QCOMPARE(blocks.size(), 3);
    QCOMPARE(blocks.at(0).totalSize, -1);
    QCOMPARE(blocks.at(0).outTimeUs, -1);
    QCOMPARE(blocks.at(1).totalSize, 48);
    QCOMPARE(blocks.at(1).outTimeUs, -23220);
    QVERIFY(!blocks.at(1).end);
    QCOMPARE(blocks.at(2).totalSize, 1048576);
    QCOMPARE(blocks.at(2).outTimeUs, 1500000);
    QVERIFY(blocks.at(2).end);
}

void TestOptionTranslator::progressInPieces()
{
    ProgressParser parser;
    const QByteArray data = "total_size=100\r\nout_time_us=2000000\r\nprogress=continue\r\n";
    QList<ProgressParser::Block> all;
    for (char c : data)
        all << parser.feed(QByteArray(1, c));
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().totalSize, 100);
    QCOMPARE(all.first().outTimeUs, 2000000);
    // A runaway line without a newline does not grow without bound.
    parser.feed(QByteArray(100000, 'x'));
    QCOMPARE(parser.feed("\ntotal_size=5\nprogress=continue\n").size(), 1);
}

QTEST_APPLESS_MAIN(TestOptionTranslator)
#include "tst_optiontranslator.moc"
