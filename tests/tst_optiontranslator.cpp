#include "containerfacts.h"
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
    void sampleRates_data();
    void sampleRates();
    void audioBitrates_data();
    void audioBitrates();
    void pictures_data();
    void pictures();
    void h264Devices_data();
    void h264Devices();
    void deviceLimits_data();
    void deviceLimits();
    void refusals_data();
    void refusals();
    void timesAreRead();
    void progressBlocks();
    void progressInPieces();
};

void TestOptionTranslator::tokenize_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<bool>("ok");
    QTest::newRow("plain") << "-vb 800k  -ab 128k" << QStringList { "-vb", "800k", "-ab", "128k" }
                           << true;
    QTest::newRow("quoted filter")
        << "-vf \"crop=600:470:20:10,scale=320:240\" -t 3"
        << QStringList { "-vf", "crop=600:470:20:10,scale=320:240", "-t", "3" } << true;
    QTest::newRow("quoted blank") << "-metadata \"title=a b\""
                                  << QStringList { "-metadata", "title=a b" } << true;
    QTest::newRow("empty quotes") << "-x \"\"" << QStringList { "-x", "" } << true;
    QTest::newRow("empty") << "" << QStringList {} << true;
    QTest::newRow("unbalanced") << "-vf \"vflip" << QStringList {} << false;
}

void TestOptionTranslator::tokenize()
{
    QFETCH(QString, options);
    QFETCH(QStringList, tokens);
    QFETCH(bool, ok);
    const Result<QStringList> parsed = TokenizeOptions(options);
    QCOMPARE(parsed.ok(), ok);
    if (ok)
        QCOMPARE(parsed.value(), tokens);
    else
        QCOMPARE(parsed.error().sentence,
                 QStringLiteral("Unbalanced quotes in the encoder options."));
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
        << "-vcodec libx264 -vpre libx264-veryfast -vb 2000k -ab 128k -ar 44100 -s 1280x720 "
           "-TimeLength 30"
        << "mp4"
        << "-ss 12.5"
        << "-vcodec libx264 -preset veryfast -b:v 2000k -b:a 128k -ar 44100 -t 30 -pix_fmt yuv420p "
           "-profile:v main -level:v 3.1 -maxrate 14000k -bufsize 14000k -sn -dn -map_chapters -1 "
           "-vf trim=end=30,setpts=PTS-STARTPTS,scale=1280:720"
        << QString();
    QTest::newRow("x264 presets")
        << ""
        << "-vcodec libx264 -vpre libx264-default -vpre libx264-ultrafast"
        << "mkv"
        << ""
        << "-vcodec libx264 -preset medium -preset ultrafast -pix_fmt yuv420p -dn "
           "-vf scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << QString();
    QTest::newRow("libfaac") << ""
                             << "-f flv -vn -acodec libfaac -ab 128k"
                             << "f4v"
                             << ""
                             << "-f flv -vn -acodec aac -b:a 128k -sn -dn" << QString();
    QTest::newRow("direct copy moves the start before the input")
        << ""
        << "-vcodec copy -acodec copy -ss 12.5 -t 30"
        << "mp4"
        << "-ss 12.5"
        << "-vcodec copy -acodec copy -t 30" << QString();
    QTest::newRow("direct copy drops filters")
        << ""
        << "-vcodec copy -acodec copy -vf \"vflip,hflip\" -ss 0 -t 3"
        << "mkv"
        << "-ss 0"
        << "-vcodec copy -acodec copy -t 3" << QString();
    QTest::newRow("direct copy drops every filter")
        << ""
        << "-vcodec copy -vf \"vflip\" -an -vf \"hflip\""
        << "mkv"
        << ""
        << "-vcodec copy -an" << QString();
    QTest::newRow("odd size made even") << ""
                                        << "-vcodec libxvid -vb 500k -s 853x481"
                                        << "avi"
                                        << ""
                                        << "-vcodec libxvid -b:v 500k -pix_fmt yuv420p -sn -dn "
                                           "-vf scale=852:480,setsar=r=sar:max=255"
                                        << QString();
    QTest::newRow("mp4 without codec is MPEG-4")
        << ""
        << "-r 29.97 -vb 512k -ab 128k -s 320x240"
        << "mp4"
        << ""
        << "-r 29.97 -b:v 512k -b:a 128k -vcodec mpeg4 -pix_fmt yuv420p "
           "-sn -dn -map_chapters -1 -vf scale=320:240,setsar=r=sar:max=255"
        << QString();
    QTest::newRow("3gp gets codecs it can carry")
        << ""
        << "-vb 60k -ab 6700 -ac 1 -ar 8000 -s 176x144"
        << "3gp"
        << ""
        << "-b:v 60k -b:a 6700 -ac 1 -ar 8000 -vcodec mpeg4 -acodec aac "
           "-pix_fmt yuv420p -sn -dn -map_chapters -1 "
           "-vf scale=176:144,setsar=r=sar:max=255"
        << QString();
    QTest::newRow("3gp without video")
        << ""
        << "-vb 60k -ab 6700 -ac 1 -ar 8000 -vn"
        << "3gp"
        << ""
        << "-b:v 60k -b:a 6700 -ac 1 -ar 8000 -vn -acodec aac -sn -dn -map_chapters -1"
        << QString();
    QTest::newRow("audio file") << ""
                                << "-vn  -ar 44100"
                                << "wav"
                                << ""
                                << "-vn -ar 44100 -sn -dn" << QString();
    QTest::newRow("rotate 90")
        << ""
        << "-an -vf \"rotate=90\""
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf transpose=clock,scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << QString();
    QTest::newRow("rotate -90")
        << ""
        << "-an -vf \"vflip,rotate=-90\""
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf vflip,transpose=cclock,scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << QString();
    QTest::newRow("rotate 180 and 270")
        << ""
        << "-an -vf \"rotate=180,rotate=270\" -s 320x240"
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf hflip,vflip,transpose=cclock,scale=320:240" << QString();
    QTest::newRow("rotate 45")
        << ""
        << "-an -vf \"rotate=45\""
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf rotate=45*PI/180:ow=rotw(45*PI/180):oh=roth(45*PI/180),"
           "scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << QString();
    QTest::newRow("crop alone is made even")
        << ""
        << "-an -vf \"crop=601:471:19:9\""
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf crop=601:471:19:9,scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << QString();
    QTest::newRow("crop then scale")
        << ""
        << "-an -vf \"crop=600:470:20:10,scale=321:241\""
        << "mkv"
        << ""
        << "-an -pix_fmt yuv420p -dn -vf crop=600:470:20:10,scale=320:240" << QString();
    QTest::newRow("no extension: the input's container")
        << ""
        << "-vcodec copy -acodec copy -ss 1 -t 2"
        << ""
        << "-ss 1"
        << "-vcodec copy -acodec copy -t 2 -f mp4" << QString();
    QTest::newRow("dvd norm from the size")
        << ""
        << "-target dvd -vb 3300k -an -s 720x576"
        << "vob"
        << ""
        << "-target pal-dvd -b:v 3300k -an -pix_fmt yuv420p -sn -dn -vf scale=720:576" << QString();
    QTest::newRow("dvd norm defaults to NTSC")
        << ""
        << "-target dvd -an -s 720x480"
        << "vob"
        << ""
        << "-target ntsc-dvd -an -pix_fmt yuv420p -sn -dn -vf scale=720:480" << QString();
    QTest::newRow("dvd norm from the rate")
        << ""
        << "-r 25 -target dvd -vn"
        << "vob"
        << ""
        << "-r 25 -target pal-dvd -vn -ar 48000 -sn -dn" << QString();
    QTest::newRow("named target kept") << ""
                                       << "-target ntsc-vcd -vb 1150k -vn"
                                       << "mpg"
                                       << ""
                                       << "-target ntsc-vcd -b:v 1150k -vn -sn -dn" << QString();
    QTest::newRow("other input options pass") << "-TimeStart 3 -itsoffset 1"
                                              << "-an -vn -f null"
                                              << "mkv"
                                              << "-itsoffset 1 -ss 3"
                                              << "-an -vn -f null -sn -dn" << QString();
    QTest::newRow("transport stream: seek early, then exactly")
        << "-TimeStart 42.5"
        << "-vcodec libx264 -TimeLength 3"
        << "mp4"
        << "-ss 12.5"
        << "-vcodec libx264 -t 3 -af atrim=start=30,asetpts=PTS-STARTPTS -pix_fmt yuv420p -sn -dn "
           "-map_chapters -1 -vf "
           "trim=start=30:end=33,setpts=PTS-STARTPTS,scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << "mpegts";
    QTest::newRow("transport stream near its start") << "-TimeStart 12.25"
                                                     << "-vn -t 1"
                                                     << "mp3"
                                                     << "-ss 0"
                                                     << "-vn -t 1 -ss 12.25 -sn -dn"
                                                     << "mpegts";
    QTest::newRow("transport stream copy keeps the input seek")
        << ""
        << "-vcodec copy -acodec copy -ss 42.5 -t 3"
        << "ts"
        << "-ss 42.5"
        << "-vcodec copy -acodec copy -t 3"
        << "mpegts";
    QTest::newRow("indexed containers seek directly") << "-TimeStart 42.5"
                                                      << "-vn -t 3"
                                                      << "mkv"
                                                      << "-ss 42.5"
                                                      << "-vn -t 3 -dn"
                                                      << "matroska,webm";
    QTest::newRow("frames of the range ahead of the picture filters")
        << "-TimeStart 2.1"
        << "-vf \"vflip\" -TimeLength 2.2"
        << "mkv"
        << "-ss 2.1"
        << "-t 2.2 -pix_fmt yuv420p -dn -vf trim=end=2.2,setpts=PTS-STARTPTS,vflip,"
           "scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << "matroska,webm";
}

void TestOptionTranslator::translate()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, extension);
    QFETCH(QString, inputArgs);
    QFETCH(QString, outputArgs);
    QFETCH(QString, inputFormat);
    const Result<TranslatedOptions> r = TranslateOptions(
        input, output, extension,
        inputFormat.isEmpty() ? QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2") : inputFormat);
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    QCOMPARE(t.inputArgs.join(QLatin1Char(' ')), inputArgs);
    QCOMPARE(t.outputArgs.join(QLatin1Char(' ')), outputArgs);
}

void TestOptionTranslator::errors_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("unbalanced quote") << ""
                                      << "-vf \"vflip";
    QTest::newRow("missing length") << ""
                                    << "-vb 800k -TimeLength";
    QTest::newRow("missing start") << "-TimeStart"
                                   << "";
    QTest::newRow("length not a number") << ""
                                         << "-t abc";
    QTest::newRow("start not a number") << "-TimeStart 1:00"
                                        << "";
}

void TestOptionTranslator::errors()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    const Result<TranslatedOptions> r
        = TranslateOptions(input, output, QStringLiteral("mp4"), QString());
    QCOMPARE(r.code(), ErrorCode::BadRequest);
    QVERIFY(!r.error().sentence.isEmpty());
}

namespace {

// A probed source: a picture of the size and rate given (none when the size is empty) and
// audio of the channels given (none for 0).
SourceMedia source(const QString &size, double rate, int channels, int sampleRate = 44100)
{
    SourceMedia s;
    const QStringList wh = size.split(QLatin1Char('x'));
    s.videoStreams = size.isEmpty() ? 0 : 1;
    s.audioStreams = channels > 0 ? 1 : 0;
    s.width = wh.value(0).toInt();
    s.height = wh.value(1).toInt();
    s.frameRate = rate;
    s.audioChannels = channels;
    s.sampleRate = channels > 0 ? sampleRate : 0;
    return s;
}

QString valueOf(const QStringList &args, const QString &name)
{
    const qsizetype i = args.lastIndexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
}

} // namespace

// The rates the encoders and containers refuse become the nearest they take.
void TestOptionTranslator::sampleRates_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("rate");
    // The first five are the argument builder's strings at Low audio quality.
    QTest::newRow("AC-3 at 22050") << "-vn -ab 96k -ar 22050 -TimeLength 2"
                                   << "ac3"
                                   << "32000";
    QTest::newRow("RealAudio") << "-vn  -ab 96k -ar 22050 -TimeLength 2"
                               << "ra"
                               << "32000";
    QTest::newRow("RealVideo") << "-vcodec rv20 -vb 485k -ab 96k -ar 22050 -s 320x240 -TimeLength 2"
                               << "rm"
                               << "32000";
    QTest::newRow("DVD takes 48 kHz only")
        << "-r 25 -target pal-dvd -ab 96k -ar 22050 -s 720x576 -TimeLength 2"
        << "mpg"
        << "48000";
    QTest::newRow("VOB at normal quality") << "-target dvd -vb 3300k -ab 192k -ar 44100 -s 720x480"
                                           << "vob"
                                           << "48000";
    QTest::newRow("a tie goes up") << "-vn -ab 128k -ar 38050"
                                   << "ac3"
                                   << "44100";
    QTest::newRow("MPEG audio layer II") << "-vn -ab 64k -ar 8000"
                                         << "mp2"
                                         << "16000";
    QTest::newRow("FLV rate field") << "-vb 500k -ab 64k -ar 48000 -s 320x240"
                                    << "flv"
                                    << "44100";
    QTest::newRow("SWF rate field") << "-vb 500k -ab 64k -ar 32000 -s 320x240"
                                    << "swf"
                                    << "22050";
    QTest::newRow("F4V carries AAC at any rate")
        << "-vcodec libx264 -f flv -acodec libfaac -ab 64k -ar 32000 -s 320x240"
        << "f4v"
        << "32000";
    QTest::newRow("Vorbis tables") << "-vn -acodec libvorbis -ab 64k -ar 12000"
                                   << "ogg"
                                   << "11025";
    QTest::newRow("WMA up to 48 kHz") << "-vn  -acodec wmav2 -ab 128k -ar 96000"
                                      << "wma"
                                      << "48000";
    QTest::newRow("AAC takes 22050") << "-vn -ab 96k -ar 22050"
                                     << "aac"
                                     << "22050";
    QTest::newRow("3GP at 8 kHz") << "-vb 60k -ab 4750 -ac 1 -ar 8000 -s 176x144"
                                  << "3gp"
                                  << "8000";
}

void TestOptionTranslator::sampleRates()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(QString, rate);
    const Result<TranslatedOptions> r = TranslateOptions(QString(), options, extension, QString(),
                                                         source(QStringLiteral("640x480"), 25, 2));
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-ar")), rate);
}

// Audio bit rates and channel counts the encoders refuse become the nearest they take.
void TestOptionTranslator::audioBitrates_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("channels"); // of the source
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("ac");
    QTest::newRow("layer II table") << "-vn -ab 40k -ar 44100"
                                    << "mp2" << 2 << "48k"
                                    << "";
    QTest::newRow("layer II at half rates") << "-vn -ab 320k -ar 22050"
                                            << "mp2" << 2 << "160k"
                                            << "";
    QTest::newRow("layer II in MPEG-1 files") << "-vb 800k -ab 100k -ar 44100 -s 320x240"
                                              << "mpg" << 2 << "96k"
                                              << "";
    QTest::newRow("WMA floor") << "-vn  -acodec wmav2 -ab 8k -ar 44100"
                               << "wma" << 2 << "24k"
                               << "";
    QTest::newRow("Vorbis mono ceiling") << "-vn -acodec libvorbis -ab 320k -ar 48000"
                                         << "ogg" << 1 << "239k"
                                         << "";
    QTest::newRow("Vorbis at 8 kHz") << "-vn -acodec libvorbis -ab 320k -ar 8000"
                                     << "ogg" << 2 << "83k"
                                     << "";
    QTest::newRow("Vorbis floor") << "-vn -acodec libvorbis -ab 32k -ar 44100"
                                  << "ogg" << 2 << "46k"
                                  << "";
    QTest::newRow("Vorbis within range") << "-vn -acodec libvorbis -ab 128k -ar 44100"
                                         << "ogg" << 2 << "128k"
                                         << "";
    QTest::newRow("down-mixed to stereo") << "-ac 2 -vn -acodec libvorbis -ab 600k -ar 44100"
                                          << "ogg" << 6 << "499k"
                                          << "2";
    QTest::newRow("MP3 from a track of six channels") << "-vn -ab 128k -ar 44100"
                                                      << "mp3" << 6 << "128k"
                                                      << "2";
    QTest::newRow("WMA from a track of six channels") << "-vn  -acodec wmav2 -ab 128k -ar 44100"
                                                      << "wma" << 6 << "128k"
                                                      << "2";
    QTest::newRow("AAC keeps six channels") << "-vn -ab 256k -ar 48000"
                                            << "m4a" << 6 << "256k"
                                            << "";
    QTest::newRow("AAC takes any rate") << "-vb 60k -ab 4750 -ac 1 -ar 8000 -s 176x144"
                                        << "3gp" << 1 << "4750"
                                        << "1";
}

void TestOptionTranslator::audioBitrates()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(int, channels);
    QFETCH(QString, bitrate);
    QFETCH(QString, ac);
    const Result<TranslatedOptions> r = TranslateOptions(
        QString(), options, extension, QString(), source(QStringLiteral("640x480"), 25, channels));
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-b:a")), bitrate);
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-ac")), ac);
}

// Every encoded picture is 8-bit 4:2:0, of a size the encoder takes after the whole chain,
// with an aspect it can write.
void TestOptionTranslator::pictures_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("filters");
    QTest::addColumn<QString>("rate"); // the -r given to ffmpeg
    QTest::newRow("crop, size, 30 degrees")
        << "-vcodec libx264 -vf \"crop=600:470:20:10,scale=320:240,rotate=30\""
        << "mkv"
        << "crop=600:470:20:10,scale=320:240,rotate=30*PI/180:ow=rotw(30*PI/180):oh=roth(30*PI/"
           "180),"
           "scale=trunc(iw/2)*2:trunc(ih/2)*2"
        << "";
    QTest::newRow("size after the filters") << "-vcodec libx264 -vf \"vflip\" -s 853x481"
                                            << "mkv"
                                            << "vflip,scale=852:480"
                                            << "";
    QTest::newRow("RealVideo sides are multiples of 4") << "-vcodec rv20 -vb 500k -s 718x406"
                                                        << "rm"
                                                        << "scale=716:404,setsar=r=sar:max=255"
                                                        << "";
    QTest::newRow("RealVideo after a crop")
        << "-vcodec rv20 -vf \"crop=601:471:19:9\""
        << "rm"
        << "crop=601:471:19:9,scale=trunc(iw/4)*4:trunc(ih/4)*4,"
           "setsar=r=sar:max=255"
        << "";
    QTest::newRow("MPEG-2 refuses 4096") << "-vcodec mpeg2video -s 4096x2160"
                                         << "mpg"
                                         << "scale=4094:2160"
                                         << "";
    QTest::newRow("aspect in bytes") << "-aspect 16:9 -vb 500k -s 718x404"
                                     << "mp4"
                                     << "scale=718:404,setdar=r=16/9:max=255"
                                     << "";
    QTest::newRow("VP8") << "-vcodec libvpx -s 320x240"
                         << "webm"
                         << "scale=320:240"
                         << "";
    QTest::newRow("a disc has its norm's size") << "-target pal-dvd -s 320x240"
                                                << "mpg"
                                                << "scale=720:576"
                                                << "";
    QTest::newRow("MPEG-1 takes its own frame rates") << "-r 10 -vb 800k -s 320x240"
                                                      << "mpg"
                                                      << "scale=320:240"
                                                      << "24000/1001";
    QTest::newRow("MPEG-1 from the source's rate") << "-vb 800k -s 320x240"
                                                   << "mpg"
                                                   << "scale=320:240"
                                                   << "24000/1001";
    QTest::newRow("MPEG-2 takes 10") << "-r 10 -vcodec mpeg2video -s 320x240"
                                     << "mpg"
                                     << "scale=320:240"
                                     << "10";
}

void TestOptionTranslator::pictures()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(QString, filters);
    QFETCH(QString, rate);
    const Result<TranslatedOptions> r = TranslateOptions(QString(), options, extension, QString(),
                                                         source(QStringLiteral("640x480"), 12, 2));
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-vf")), filters);
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-pix_fmt")), QStringLiteral("yuv420p"));
    QVERIFY(!t.outputArgs.contains(QStringLiteral("-s")));
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-r")), rate);
}

// H.264 in MP4 stays within what the catalogue's devices decode at that frame size.
void TestOptionTranslator::h264Devices_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("profile"); // profile, level, maxrate
    QTest::newRow("iPod") << "-r 29.97 -vb 700k -s 320x240"
                          << "mp4"
                          << "baseline 3 10000k";
    QTest::newRow("PAL SD at 25") << "-r 25 -vb 1500k -s 720x576"
                                  << "mp4"
                                  << "baseline 3 10000k";
    QTest::newRow("Android 800x480") << "-r 29.97 -vb 1500k -s 800x480"
                                     << "mp4"
                                     << "baseline 3.1 14000k";
    QTest::newRow("iPhone 4") << "-r 29.97 -vb 2000k -s 960x640"
                              << "mp4"
                              << "main 3.1 14000k";
    QTest::newRow("iPad HD") << "-r 29.97 -vb 2000k -s 1280x720"
                             << "mp4"
                             << "main 3.1 14000k";
    QTest::newRow("720p at 60") << "-r 60 -vb 2000k -s 1280x720"
                                << "mp4"
                                << "main 3.2 20000k";
    QTest::newRow("HD") << "-vb 4000k -s 1920x1080"
                        << "mp4"
                        << "high 4 25000k";
    QTest::newRow("rate above the level") << "-r 29.97 -vb 12000k -s 320x240"
                                          << "mp4"
                                          << "baseline 3.1 14000k";
    QTest::newRow("crop and rotation") << "-vf \"crop=600:470:20:10,scale=1280:720,rotate=90\""
                                       << "mp4"
                                       << "main 3.1 14000k";
    QTest::newRow("Matroska is left to x264") << "-vb 2000k -s 320x240"
                                              << "mkv"
                                              << "  ";
}

void TestOptionTranslator::h264Devices()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(QString, profile);
    const Result<TranslatedOptions> r
        = TranslateOptions(QString(), QStringLiteral("-vcodec libx264 ") + options, extension,
                           QString(), source(QStringLiteral("640x480"), 25, 2));
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    QCOMPARE(QStringList({ valueOf(t.outputArgs, QStringLiteral("-profile:v")),
                           valueOf(t.outputArgs, QStringLiteral("-level:v")),
                           valueOf(t.outputArgs, QStringLiteral("-maxrate")) })
                 .join(QLatin1Char(' ')),
             profile);
    QCOMPARE(valueOf(t.outputArgs, QStringLiteral("-pix_fmt")), QStringLiteral("yuv420p"));
}

// A device preset's output fits its device's frame box and frame rate, whatever the size and
// rate asked or the source's; the bit rate shrinks with the frame.
void TestOptionTranslator::deviceLimits_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("sourceSize"); // "" when the probe could not tell
    QTest::addColumn<double>("sourceRate");
    QTest::addColumn<QString>("expected"); // the end of the chain, -r, -b:v
    const QString x264 = QStringLiteral("-vcodec libx264 -vb 12000k ");
    QTest::newRow("asked size fitted to the box") << x264 + "-r 60 -s 1920x1080"
                                                  << "1920x1080" << 60.0 << "scale=320:180 30 333k";
    QTest::newRow("portrait source, no size asked")
        << x264 << "720x1280" << 25.0 << "scale=134:240 - 418k";
    QTest::newRow("a frame inside the box is kept")
        << x264 + "-r 25 -s 320x240"
        << "1920x1080" << 25.0 << "scale=320:240 25 12000k";
    QTest::newRow("unknown size, fitted by ffmpeg")
        << x264 << "" << 50.0
        << "scale=w='min(iw,320)':h='min(ih,240)':force_original_aspect_ratio=decrease:"
           "force_divisible_by=2 30 12000k";
}

void TestOptionTranslator::deviceLimits()
{
    QFETCH(QString, options);
    QFETCH(QString, sourceSize);
    QFETCH(double, sourceRate);
    QFETCH(QString, expected);
    SourceMedia media
        = source(sourceSize.isEmpty() ? QStringLiteral("0x0") : sourceSize, sourceRate, 2);
    const DeviceLimits iPod { 320, 240, 30 };
    const Result<TranslatedOptions> r
        = TranslateOptions(QString(), options, QStringLiteral("mp4"), QString(), media, iPod);
    QVERIFY2(r, qPrintable(r.error().sentence));
    const TranslatedOptions &t = r.value();
    const auto orDash = [](const QString &v) { return v.isEmpty() ? QStringLiteral("-") : v; };
    const QString chain = valueOf(t.outputArgs, QStringLiteral("-vf"));
    QCOMPARE(QStringList({ chain.mid(chain.lastIndexOf(QLatin1String("scale="))),
                           orDash(valueOf(t.outputArgs, QStringLiteral("-r"))),
                           orDash(valueOf(t.outputArgs, QStringLiteral("-b:v"))) })
                 .join(QLatin1Char(' ')),
             expected);
}

// What ffmpeg would still refuse is refused first, in one sentence naming the setting; and a
// converted file takes only the streams its format plays.
void TestOptionTranslator::refusals_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("size"); // of the source's picture; "" for none
    QTest::addColumn<int>("channels"); // of its audio
    QTest::addColumn<QString>("setting"); // named by the refusal; "" when accepted
    QTest::addColumn<QString>("streams"); // the stream options when accepted
    QTest::newRow("MPEG-1 above 4095") << "-vb 800k -ab 128k -ar 44100 -s 5000x3000"
                                       << "mpg"
                                       << "320x240" << 2 << "Video Size"
                                       << "";
    QTest::newRow("MPEG-1 source above 4095") << "-vb 800k -ab 128k -ar 44100 -vf \"vflip\""
                                              << "mpg"
                                              << "4100x2000" << 2 << "Video Size"
                                              << "";
    QTest::newRow("RealVideo at 4K") << "-vcodec rv20 -vb 1000k -s 3840x2160"
                                     << "rm"
                                     << "320x240" << 2 << "Video Size"
                                     << "";
    QTest::newRow("SWF at 300 frames a second") << "-r 300 -vb 500k -s 320x240"
                                                << "swf"
                                                << "320x240" << 2 << "Frame Rate (FPS)"
                                                << "";
    QTest::newRow("video only into video format") << "-vb 500k -ab 128k -ar 44100 -s 320x240"
                                                  << "mp4"
                                                  << "320x240" << 0 << ""
                                                  << "-sn -dn -map_chapters -1";
    QTest::newRow("audio only into video format") << "-vb 500k -ab 128k -ar 44100 -vn"
                                                  << "mp4"
                                                  << "" << 2 << ""
                                                  << "-sn -dn -map_chapters -1";
    QTest::newRow("Matroska keeps subtitles and chapters") << "-vcodec libx264 -s 320x240"
                                                           << "mkv"
                                                           << "320x240" << 2 << ""
                                                           << "-dn";
    QTest::newRow("a copy keeps what ffmpeg picks") << "-vcodec copy -acodec copy -t 2"
                                                    << "mp4"
                                                    << "320x240" << 2 << ""
                                                    << "";
}

void TestOptionTranslator::refusals()
{
    QFETCH(QString, options);
    QFETCH(QString, extension);
    QFETCH(QString, size);
    QFETCH(int, channels);
    QFETCH(QString, setting);
    QFETCH(QString, streams);
    const Result<TranslatedOptions> r
        = TranslateOptions(QString(), options, extension, QString(), source(size, 25, channels));
    if (setting.isEmpty()) {
        QVERIFY2(r, qPrintable(r.error().sentence));
        const TranslatedOptions &t = r.value();
        QStringList tail;
        for (const QString &a : t.outputArgs) {
            if (a == QLatin1String("-sn") || a == QLatin1String("-dn")
                || a == QLatin1String("-map_chapters"))
                tail << a;
            else if (tail.endsWith(QStringLiteral("-map_chapters")))
                tail << a;
        }
        QCOMPARE(tail.join(QLatin1Char(' ')), streams);
        return;
    }
    const QString &sentence = r.error().sentence;
    QCOMPARE(r.code(), ErrorCode::NotPossible);
    QVERIFY2(sentence.contains(setting), qPrintable(sentence));
    QVERIFY2(sentence.endsWith(QLatin1Char('.')) && sentence.count(QLatin1String(". ")) == 0,
             qPrintable(sentence));
}

void TestOptionTranslator::timesAreRead()
{
    const Result<TranslatedOptions> r = TranslateOptions(QStringLiteral("-TimeStart 12.5"),
                                                         QStringLiteral("-vb 1k -TimeLength 30"),
                                                         QStringLiteral("mp4"), QString());
    QCOMPARE(r.value().startSeconds, 12.5);
    QCOMPARE(r.value().lengthSeconds, 30.0);
    const Result<TranslatedOptions> none
        = TranslateOptions(QString(), QStringLiteral("-vn"), QStringLiteral("mp3"), QString());
    QCOMPARE(none.value().startSeconds, 0.0);
    QCOMPARE(none.value().lengthSeconds, -1.0);
    QCOMPARE(MuxerForInputFormat(QStringLiteral("matroska,webm")), QStringLiteral("matroska"));
    QCOMPARE(MuxerForInputFormat(QStringLiteral("aac")), QStringLiteral("adts"));
    QCOMPARE(MuxerForInputFormat(QStringLiteral("mp3")), QStringLiteral("mp3"));
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
