#include "argumentbuilder.h"
#include "avlogging.h"
#include "avprobe.h"
#include "catalogue.h"
#include "ffmpegencoder.h"
#include "mediafixtures.h"
#include "optiontranslator.h"
#include "outputmodel.h"
#include "timecode.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace MediaFixtures;

// The conversion matrix, end to end with the real encoder, generated from the catalogue:
// every entry at High, Normal and Low quality (video and audio alike) on an ordinary clip, and
// every format key against sources of every common kind; one row per format key. Each cut is
// built through the dialog's model and the argument builder, converted, and checked by ffprobe
// and a full decode against what the format and its device play. SNIPORA_MATRIX=sampled runs
// a third of it (every entry once, every key on a third of the sources).
class TestCatalogueEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void matrix_data();
    void matrix();
    void directCopies_data();
    void directCopies();

private:
    struct Source
    {
        const char *name = "";
        bool video = true;
        bool audio = true;
        int channels = 2;
        bool variableRate = false; // and carries subtitles and chapters
        QString path = QString();
    };
    struct Case
    {
        const CatalogueEntry *entry = nullptr;
        int quality = 1; // 0 High, 1 Normal, 2 Low
        int source = 0;
        int sizeIndex = 0; // of the size list; 0 is "Auto"
        QList<std::pair<const char *, QString>> grid = {}; // advanced settings, in order
        QString label() const;
    };
    struct Run
    {
        Case c;
        EncoderJob built;
        QString output;
        std::unique_ptr<FfmpegEncoder> encoder;
        bool refused = false;
        bool succeeded = false;
        QString message;
    };
    BuildInputs inputsFor(const Source &source) const;
    QList<Case> cases(const QString &key) const;
    QString check(const Run &run) const;

    QTemporaryDir m_dir;
    QList<Source> m_sources;
};

namespace {

constexpr double kCutStart = 0.5;
constexpr double kCutLength = 1.0;
constexpr int kFullHdSize = 14; // "1920 x 1080" in the size list
const char *const kQualityNames[] = { "High", "Normal", "Low" };

// What a format key writes, as ffprobe names the codecs ("" for no video).
struct KeyFacts
{
    const char *key;
    const char *videoCodec;
    const char *audioCodec;
};
const KeyFacts kKeys[] = {
    { "3gp", "mpeg4", "aac" },
    { "asf", "msmpeg4v2", "wmav2" },
    { "avi", "mpeg4", "mp3" },
    { "f4v", "h264", "aac" },
    { "flv", "flv1", "mp3" },
    { "mkv", "h264", "mp3" },
    { "mov", "h264", "aac" },
    { "mp4h264", "h264", "aac" },
    { "mp4", "mpeg4", "aac" },
    { "mpg", "mpeg1video", "mp2" },
    { "mpg2", "mpeg2video", "mp2" },
    { "rm", "rv20", "ac3" },
    { "swf", "flv1", "mp3" },
    { "vob", "mpeg2video", "ac3" },
    { "webm", "vp8", "vorbis" },
    { "wmv", "wmv2", "wmav2" },
    { "ntsc-dvd", "mpeg2video", "ac3" },
    { "pal-dvd", "mpeg2video", "ac3" },
    { "ntsc-vcd", "mpeg1video", "mp2" },
    { "pal-vcd", "mpeg1video", "mp2" },
    { "aac", "", "aac" },
    { "ac3", "", "ac3" },
    { "aiff", "", "pcm_s16be" },
    { "flac", "", "flac" },
    { "m4a", "", "aac" },
    { "mp2", "", "mp2" },
    { "mp3", "", "mp3" },
    { "ogg", "", "vorbis" },
    { "ra", "", "ac3" },
    { "wav", "", "pcm_s16le" },
    { "wma", "", "wmav2" },
};

const KeyFacts &factsFor(const QString &key)
{
    for (const KeyFacts &f : kKeys) {
        if (key == QLatin1String(f.key))
            return f;
    }
    qFatal("format key %s has no facts in the matrix", qPrintable(key));
}

bool keyIn(const QString &key, std::initializer_list<const char *> keys)
{
    return std::any_of(keys.begin(), keys.end(),
                       [&key](const char *k) { return key == QLatin1String(k); });
}

// The sample rates the target of a key plays (empty: any the options ask for).
QList<int> playableRates(const QString &key)
{
    if (keyIn(key, { "ac3", "ra", "rm" }))
        return { 32000, 44100, 48000 }; // AC-3
    if (keyIn(key, { "vob", "ntsc-dvd", "pal-dvd" }))
        return { 48000 }; // DVD-Video
    if (keyIn(key, { "ntsc-vcd", "pal-vcd" }))
        return { 44100 };
    if (keyIn(key, { "flv", "swf" }))
        return { 11025, 22050, 44100 }; // the Flash audio rate field
    if (keyIn(key, { "3gp" }))
        return { 8000 };
    if (keyIn(key, { "mpg", "mpg2", "mp2" }))
        return { 16000, 22050, 24000, 32000, 44100, 48000 }; // MPEG audio layer II
    return {};
}

// The samples of encoder priming (AAC 1024, LAME's MP3 1105) that players of the key's
// container play as sound, because it has no way to tell them to skip it: raw AAC, and AVI,
// FLV, SWF and Matroska with MP3.
int primingSamples(const QString &key)
{
    if (keyIn(key, { "aac", "f4v" }))
        return 1024;
    if (keyIn(key, { "avi", "flv", "swf", "mkv" }))
        return 1105;
    return 0;
}

// The most a device decodes of H.264: a profile rank (Constrained Baseline 0, Baseline 1,
// Main 2, High 3) and a level (times ten), by entry or by device family.
struct H264Limit
{
    int profile;
    int level;
};
H264Limit h264Limit(const CatalogueEntry &e)
{
    // iPhone 4, iPod Touch 4, Apple TV, iPad, Android pads, PlayBook, Archos: Main 3.1.
    if (QList<int> { 1059, 1071, 1073, 1074, 1077, 1078, 1080, 1095, 1097, 1109, 1140 }.contains(
            e.Id))
        return { 2, 31 };
    if (QList<int> { 1119, 1120, 1121 }.contains(e.Id)) // PSP
        return { 2, 30 };
    if (QList<int> { 1083, 1084, 1085, 1086, 1115 }.contains(e.Id)) // Android and Windows phones
        return { 1, 31 };
    // iPhone, iPod, BlackBerry, and Creative ZEN, iRiver and Zune players.
    if (QList<int> { 1054, 1060, 1099, 1139 }.contains(e.SubmenuId))
        return { 1, 30 };
    return { 3, 41 }; // the general formats, PS3, Xbox, HD and web video
}

int h264ProfileRank(const QString &profile)
{
    const QStringList ranks { "Constrained Baseline", "Baseline", "Main", "High" };
    return int(ranks.indexOf(profile)); // -1 for High 10, 4:2:2, 4:4:4 and the rest
}

double rateOf(const QString &fraction)
{
    const QStringList parts = fraction.split(QLatin1Char('/'));
    const double den = parts.value(1, QStringLiteral("1")).toDouble();
    return den > 0 ? parts.value(0).toDouble() / den : 0;
}

// The last value of an option in the builder's string ("" when absent).
QString optionValue(const QString &options, const QString &name)
{
    const Result<QStringList> parsed = TokenizeOptions(options);
    if (!parsed)
        return QString();
    const QStringList &tokens = parsed.value();
    const qsizetype i = tokens.lastIndexOf(name);
    return i >= 0 && i + 1 < tokens.size() ? tokens.at(i + 1) : QString();
}

struct Stream
{
    QString type;
    QString codec;
    QString profile;
    int level = 0;
    QString pixelFormat;
    int width = 0;
    int height = 0;
    QString frameRate;
    int sampleRate = 0;
    int channels = 0;
    // From the full decode: video frames and the span of their times, audio samples and the
    // most in one frame.
    int frames = 0;
    double span = 0;
    qint64 samples = 0;
    int frameSamples = 0;
};

struct ProbedFile
{
    QList<Stream> streams;
    QString decodeErrors; // what the decoders reported, "" for none
};

// The streams as ffprobe reads them, and a decode of every frame.
ProbedFile probeFile(const QString &path)
{
    ProbedFile result;
    QByteArray out;
    if (run(QStringLiteral("ffprobe"),
            { "-v", "error", "-print_format", "json", "-show_streams", path }, &out)
        != 0)
        return result;
    for (const auto &value :
         QJsonDocument::fromJson(out).object().value(QStringLiteral("streams")).toArray()) {
        const QJsonObject s = value.toObject();
        Stream stream;
        stream.type = s.value(QStringLiteral("codec_type")).toString();
        stream.codec = s.value(QStringLiteral("codec_name")).toString();
        stream.profile = s.value(QStringLiteral("profile")).toString();
        stream.level = s.value(QStringLiteral("level")).toInt();
        stream.pixelFormat = s.value(QStringLiteral("pix_fmt")).toString();
        stream.width = s.value(QStringLiteral("width")).toInt();
        stream.height = s.value(QStringLiteral("height")).toInt();
        stream.frameRate = s.value(QStringLiteral("avg_frame_rate")).toString();
        if (rateOf(stream.frameRate) <= 0)
            stream.frameRate = s.value(QStringLiteral("r_frame_rate")).toString();
        stream.sampleRate = s.value(QStringLiteral("sample_rate")).toString().toInt();
        stream.channels = s.value(QStringLiteral("channels")).toInt();
        result.streams << stream;
    }
    QProcess decode;
    decode.start(QStringLiteral("ffprobe"),
                 { "-v", "error", "-show_entries",
                   "frame=stream_index,pts_time,pkt_duration_time,nb_samples", "-of", "csv=p=0",
                   path });
    if (!decode.waitForFinished(120000) || decode.exitCode() != 0) {
        result.decodeErrors = QStringLiteral("the decode failed");
        return result;
    }
    result.decodeErrors = QString::fromUtf8(decode.readAllStandardError()).trimmed();
    QList<double> first(result.streams.size(), 1e300);
    QList<double> last(result.streams.size(), -1e300);
    for (const QByteArray &line : decode.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        const int index = f.value(0).toInt();
        if (f.size() < 3 || index < 0 || index >= result.streams.size())
            continue;
        Stream &stream = result.streams[index];
        if (stream.type == QLatin1String("video")) {
            ++stream.frames;
            bool ok = false;
            const double pts = f.at(1).toDouble(&ok);
            double duration = f.at(2).toDouble();
            if (duration <= 0 && rateOf(stream.frameRate) > 0)
                duration = 1 / rateOf(stream.frameRate); // FLV gives frames no duration
            if (ok) {
                first[index] = std::min(first[index], pts);
                last[index] = std::max(last[index], pts + duration);
            }
        } else if (stream.type == QLatin1String("audio") && f.size() >= 4) {
            stream.samples += f.at(3).toInt();
            stream.frameSamples = std::max(stream.frameSamples, f.at(3).toInt());
        }
    }
    for (qsizetype i = 0; i < result.streams.size(); ++i)
        result.streams[i].span = last[i] > first[i] ? last[i] - first[i] : 0;
    return result;
}

} // namespace

QString TestCatalogueEndToEnd::Case::label() const
{
    QString text
        = QStringLiteral("%1 \"%2\" (%3) at %4")
              .arg(entry->Id)
              .arg(entry->caption(), entry->formatKey(), QLatin1String(kQualityNames[quality]));
    for (const auto &[caption, value] : grid)
        text += QStringLiteral(", %1=%2").arg(QLatin1String(caption), value);
    return text;
}

void TestCatalogueEndToEnd::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    const QDir dir(m_dir.path());
    QVERIFY(dir.mkpath(QStringLiteral("out")));
    const QString d = QStringLiteral("2");
    const QString stereo
        = QStringLiteral("aevalsrc=sin(440*2*PI*t)|sin(660*2*PI*t):s=44100:d=") + d;
    const QString picture = QStringLiteral("testsrc2=size=320x240:rate=25:duration=") + d;
    const QStringList x264 { "-c:v", "libx264", "-preset", "ultrafast", "-g", "12" };
    const QStringList aac { "-c:a", "aac", "-b:a", "96k" };
    struct Recipe
    {
        Source source;
        QString file;
        QStringList args;
    };
    const QList<Recipe> recipes {
        { { "H.264 + AAC stereo" },
          "h264.mp4",
          QStringList { "-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", stereo } + x264
              + QStringList { "-pix_fmt", "yuv420p" } + aac },
        { { "10-bit HEVC" },
          "hevc10.mkv",
          QStringList { "-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", stereo, "-c:v",
                        "libx265", "-preset", "ultrafast", "-x265-params", "log-level=none",
                        "-pix_fmt", "yuv420p10le" }
              + aac },
        { { "4:2:2 8-bit" },
          "yuv422.mp4",
          QStringList { "-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", stereo } + x264
              + QStringList { "-pix_fmt", "yuv422p" } + aac },
        { { "odd 719x405, 4:4:4" },
          "odd.mp4",
          QStringList { "-f", "lavfi", "-i", "testsrc2=size=719x405:rate=25:duration=" + d, "-f",
                        "lavfi", "-i", stereo }
              + x264 + QStringList { "-pix_fmt", "yuv444p" } + aac },
        { { "portrait 720x1280" },
          "portrait.mp4",
          QStringList { "-f", "lavfi", "-i", "testsrc2=size=720x1280:rate=25:duration=" + d, "-f",
                        "lavfi", "-i", stereo }
              + x264 + QStringList { "-pix_fmt", "yuv420p" } + aac },
        { { "variable frame rate, subtitles, chapters", true, true, 2, true },
          "vfr.mkv",
          QStringList { "-f",
                        "lavfi",
                        "-i",
                        picture + ",select='not(eq(mod(n\\,5)\\,2))'",
                        "-f",
                        "lavfi",
                        "-i",
                        stereo,
                        "-i",
                        m_dir.filePath(QStringLiteral("subs.srt")),
                        "-i",
                        m_dir.filePath(QStringLiteral("chapters.txt")),
                        "-map",
                        "0",
                        "-map",
                        "1",
                        "-map",
                        "2",
                        "-map_chapters",
                        "3",
                        "-fps_mode",
                        "vfr" }
              + x264 + QStringList { "-pix_fmt", "yuv420p" } + aac },
        { { "5.1 at 48 kHz", true, true, 6 },
          "surround.mp4",
          QStringList { "-f", "lavfi", "-i", picture, "-f", "lavfi", "-i",
                        "aevalsrc=sin(440*2*PI*t)|sin(550*2*PI*t)|0.1|0.1|0.1|0.1:c=5.1:s=48000:d="
                            + d }
              + x264 + QStringList { "-pix_fmt", "yuv420p" } + aac },
        { { "mono 8 kHz", true, true, 1 },
          "mono8k.mp4",
          QStringList { "-f", "lavfi", "-i", picture, "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=8000:duration=" + d }
              + x264 + QStringList { "-pix_fmt", "yuv420p" } + aac },
        { { "audio only", false, true, 2 },
          "audio.mp3",
          QStringList { "-f", "lavfi", "-i", stereo, "-c:a", "libmp3lame", "-b:a", "128k" } },
        { { "video only", true, false, 0 },
          "video.mp4",
          QStringList { "-f", "lavfi", "-i", picture } + x264
              + QStringList { "-pix_fmt", "yuv420p" } },
    };
    {
        QFile subs(m_dir.filePath(QStringLiteral("subs.srt")));
        QVERIFY(subs.open(QIODevice::WriteOnly));
        subs.write(
            "1\n00:00:00,200 --> 00:00:01,400\nOne\n\n2\n00:00:01,400 --> 00:00:01,900\nTwo\n");
        QFile chapters(m_dir.filePath(QStringLiteral("chapters.txt")));
        QVERIFY(chapters.open(QIODevice::WriteOnly));
        chapters.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=A\n"
                       "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=B\n");
    }
    for (const Recipe &r : recipes) {
        Source s = r.source;
        s.path = dir.filePath(r.file);
        QVERIFY2(ffmpeg(r.args + QStringList { "-t", d, s.path }), s.name);
        m_sources << s;
    }
}

BuildInputs TestCatalogueEndToEnd::inputsFor(const Source &source) const
{
    AvProbe probe;
    BuildInputs in;
    if (!probe.open(source.path, QString()))
        return in;
    in.InputFilePath = source.path;
    in.SourceWidth = probe.pictureWidth(probe.videoStreamIndex());
    in.SourceHeight = probe.pictureHeight(probe.videoStreamIndex());
    in.SourceHasVideo = probe.videoStreamCount() > 0;
    in.SourceBitrateKbps = EstimateSourceBitrateKbps(
        probe.fileSize(), probe.durationMicros() / 100000.0, probe.audioStreamCount());
    in.AudioChannelCount = probe.channelCount(probe.audioStreamIndex());
    in.CutStartSeconds = kCutStart;
    in.CutLengthSeconds = kCutLength;
    return in;
}

// Every entry of the key at the three qualities on the first source, and the key's first
// entry (in catalogue order: the general format) on each other source at Normal. Sampled:
// each entry at one quality and the key on every third source, turning with the place in
// the catalogue.
QList<TestCatalogueEndToEnd::Case> TestCatalogueEndToEnd::cases(const QString &key) const
{
    const bool full = qEnvironmentVariable("SNIPORA_MATRIX") != QLatin1String("sampled");
    QList<Case> list;
    const auto entries = Catalogue::entries();
    bool first = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        const CatalogueEntry &e = entries[i];
        if (e.formatKey() != key)
            continue;
        // A device preset asked for more than its device plays: Full HD at 60 frames a second.
        if (Catalogue::deviceLimits(e) != DeviceLimits() && (full || i % 3 == 1))
            list << Case {
                &e, 1, 0, kFullHdSize, { { "Frame Rate (FPS)", QStringLiteral("60") } }
            };
        for (int q = 0; q < 3; ++q) {
            if (full || int(i % 3) == q)
                list << Case { &e, q, 0 };
        }
        for (int s = 1; first && s < m_sources.size(); ++s) {
            if (full || (int(i) + s) % 3 == 0)
                list << Case { &e, 1, s };
        }
        if (first) {
            // Every sample rate of the grid, at the highest bit rates in stereo and the lowest
            // in mono, on the source without video.
            const int audioOnly = int(m_sources.size()) - 2;
            int n = 0;
            for (const char *rate :
                 { "8000", "11025", "16000", "22050", "32000", "44100", "48000" }) {
                if (full || (int(i) + n++) % 3 == 0)
                    list << Case {
                        &e, 0, audioOnly, 0, { { "Sample Rate", QString::fromLatin1(rate) } }
                    };
                if (full || (int(i) + n++) % 3 == 0)
                    list << Case { &e,
                                   2,
                                   audioOnly,
                                   0,
                                   { { "Sample Rate", QString::fromLatin1(rate) },
                                     { "Channels", QStringLiteral("1") } } };
            }
            // A crop, a size, flips and a rotation that is not a right angle, on the odd source.
            if (!e.AudioOnly)
                list << Case { &e,
                               1,
                               3,
                               3,
                               { { "Crop Video", QStringLiteral("True") },
                                 { "Top", QStringLiteral("10") },
                                 { "Bottom", QStringLiteral("7") },
                                 { "Left", QStringLiteral("21") },
                                 { "Right", QStringLiteral("3") },
                                 { "Horizontally Flip", QStringLiteral("True") },
                                 { "Rotate", QStringLiteral("30") },
                                 { "Frame Rate (FPS)", QStringLiteral("12") } } };
        }
        first = false;
    }
    return list;
}

// "" when the output is what its format and device play, else what is wrong.
QString TestCatalogueEndToEnd::check(const Run &run) const
{
    const CatalogueEntry &e = *run.c.entry;
    const Source &source = m_sources.at(run.c.source);
    const QString key = e.formatKey();
    const KeyFacts &facts = factsFor(key);
    const QString options = run.built.EncoderArguments;
    const bool expectVideo = source.video && !e.AudioOnly;
    const bool expectAudio = source.audio;
    if (run.refused) {
        // The one combination the program refuses: an audio format has nothing to take from a
        // source without audio. The reason is one sentence of ours, no ffmpeg text.
        const bool ours = run.message.endsWith(QLatin1Char('.'))
            && !run.message.contains(QLatin1Char('\n'))
            && !run.message.contains(QLatin1String("@ 0x"));
        if (!expectVideo && !expectAudio && ours)
            return QString();
        return QStringLiteral("refused: ") + run.message;
    }
    if (!expectVideo && !expectAudio)
        return QStringLiteral("converted although there is nothing to save");
    if (!run.succeeded)
        return QStringLiteral("failed: ") + run.message;

    const ProbedFile probed = probeFile(run.output);
    const QList<Stream> &streams = probed.streams;
    if (streams.isEmpty())
        return QStringLiteral("ffprobe cannot read it");
    QStringList problems;
    const Stream *video = nullptr;
    const Stream *audio = nullptr;
    int subtitles = 0;
    for (const Stream &s : streams) {
        if (s.type == QLatin1String("video") && !video)
            video = &s;
        else if (s.type == QLatin1String("audio") && !audio)
            audio = &s;
        else if (s.type == QLatin1String("subtitle"))
            ++subtitles;
        else if (!(s.codec == QLatin1String("dvd_nav_packet")
                   && keyIn(key, { "vob", "ntsc-dvd", "pal-dvd" })))
            problems << QStringLiteral("an extra %1 stream (%2)").arg(s.type, s.codec);
    }
    if (bool(video) != expectVideo || bool(audio) != expectAudio)
        return QStringLiteral("streams: video %1, audio %2").arg(bool(video)).arg(bool(audio));
    if (subtitles > 0 && (!source.variableRate || !keyIn(key, { "mkv", "webm" })))
        problems << QStringLiteral("%1 subtitle streams").arg(subtitles);

    double frameRate = 0;
    if (video) {
        if (video->codec != QLatin1String(facts.videoCodec))
            problems << QStringLiteral("video codec %1").arg(video->codec);
        if (video->pixelFormat != QLatin1String("yuv420p"))
            problems << QStringLiteral("pixel format %1").arg(video->pixelFormat);
        // Size: the preset's, the disc's, or the source's; always a multiple the codec needs.
        const int m = key == QLatin1String("rm") ? 4 : 2;
        QSize expected;
        if (keyIn(key, { "ntsc-dvd", "vob" }))
            expected = QSize(720, 480);
        else if (key == QLatin1String("pal-dvd"))
            expected = QSize(720, 576);
        else if (key == QLatin1String("ntsc-vcd"))
            expected = QSize(352, 240);
        else if (key == QLatin1String("pal-vcd"))
            expected = QSize(352, 288);
        else if (e.hasSize())
            expected = QSize(QString::fromLatin1(e.Width).toInt(),
                             QString::fromLatin1(e.Height).toInt());
        else if (key == QLatin1String("3gp"))
            expected = QSize(176, 144);
        else {
            AvProbe probe;
            probe.open(source.path, QString());
            const int w = probe.pictureWidth(probe.videoStreamIndex());
            const int h = probe.pictureHeight(probe.videoStreamIndex());
            expected = QSize(w - w % m, h - h % m);
        }
        const DeviceLimits device = Catalogue::deviceLimits(e);
        if (run.c.sizeIndex == kFullHdSize)
            expected = QSize(1920, 1080);
        if (device.limitsSize()
            && (expected.width() > device.maxWidth || expected.height() > device.maxHeight)) {
            // Fitted into the device's box, the shape kept within the rounding to sides the
            // codec takes.
            const double f = std::min(double(device.maxWidth) / expected.width(),
                                      double(device.maxHeight) / expected.height());
            if (video->width > device.maxWidth || video->height > device.maxHeight
                || std::abs(video->width - expected.width() * f) > m
                || std::abs(video->height - expected.height() * f) > m)
                problems << QStringLiteral("size %1x%2 outside the device's %3x%4")
                                .arg(video->width)
                                .arg(video->height)
                                .arg(device.maxWidth)
                                .arg(device.maxHeight);
            expected = QSize(video->width, video->height);
        }
        const bool geometry = run.c.sizeIndex != kFullHdSize && !run.c.grid.isEmpty()
            && !keyIn(key, { "ntsc-dvd", "pal-dvd", "vob", "ntsc-vcd", "pal-vcd" });
        if ((!geometry && QSize(video->width, video->height) != expected) || video->width % m
            || video->height % m || video->width < 16 || video->height < 16)
            problems << QStringLiteral("size %1x%2, not %3x%4")
                            .arg(video->width)
                            .arg(video->height)
                            .arg(expected.width())
                            .arg(expected.height());
        // Frame rate: the preset's, the disc norm's, 29.97 for MPEG-4 and MOV, else the source's.
        // Frame rate: the disc norm's, the grid's or the preset's, 29.97 for MPEG-4 and MOV, else
        // the source's; MPEG-1 plays only its eight standard rates.
        const double asked = optionValue(options, QStringLiteral("-r")).toDouble();
        double expectedRate = asked > 0 ? asked : 25;
        if (device.maxFrameRate > 0)
            expectedRate = std::min(expectedRate, device.maxFrameRate);
        if (keyIn(key, { "ntsc-dvd", "ntsc-vcd", "vob" }))
            expectedRate = 29.97;
        else if (keyIn(key, { "pal-dvd", "pal-vcd" }))
            expectedRate = 25;
        if (keyIn(key, { "mpg", "ntsc-vcd", "pal-vcd" })) {
            double nearest = 0;
            for (const double r : { 23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0 }) {
                if (std::abs(r - expectedRate) < std::abs(nearest - expectedRate))
                    nearest = r;
            }
            expectedRate = nearest;
        }
        const bool rateOfSource
            = asked <= 0 && !keyIn(key, { "ntsc-dvd", "ntsc-vcd", "vob", "pal-dvd", "pal-vcd" });
        frameRate = rateOf(video->frameRate);
        const bool variable = rateOfSource && source.variableRate;
        if (!variable && std::abs(frameRate - expectedRate) > 0.02)
            problems << QStringLiteral("frame rate %1").arg(video->frameRate);
        if (variable || frameRate <= 0)
            frameRate = expectedRate;
        // What the device decodes.
        if (video->codec == QLatin1String("h264")) {
            const H264Limit limit = h264Limit(e);
            const int rank = h264ProfileRank(video->profile);
            if (rank < 0 || rank > limit.profile || video->level > limit.level)
                problems
                    << QStringLiteral("H.264 %1 level %2").arg(video->profile).arg(video->level);
        } else if (keyIn(key, { "mp4", "3gp" })
                   && video->profile != QLatin1String("Simple Profile")) {
            problems << QStringLiteral("MPEG-4 %1").arg(video->profile);
        } else if (video->codec == QLatin1String("mpeg2video")
                   && video->profile != QLatin1String("Main")) {
            problems << QStringLiteral("MPEG-2 %1").arg(video->profile);
        }
        // One frame either way, from the first frame's time to the last one's end; where the
        // container cannot tell players to skip the audio encoder's priming, the picture
        // waits for the sound by that much.
        const double priming
            = audio ? double(primingSamples(key)) / std::max(1, audio->sampleRate) : 0;
        if (std::abs(video->span - kCutLength) > 1 / frameRate + priming + 0.001)
            problems << QStringLiteral("video length %1 s (%2 frames)")
                            .arg(video->span)
                            .arg(video->frames);
    }
    if (audio) {
        if (audio->codec != QLatin1String(facts.audioCodec))
            problems << QStringLiteral("audio codec %1").arg(audio->codec);
        const int asked = optionValue(options, QStringLiteral("-ar")).toInt();
        const QList<int> rates = playableRates(key);
        int expectedRate = asked;
        if (!rates.isEmpty() && !rates.contains(asked)) {
            expectedRate = rates.first();
            for (const int r : rates) {
                if (std::abs(r - asked) <= std::abs(expectedRate - asked))
                    expectedRate = r;
            }
        }
        if (audio->sampleRate != expectedRate)
            problems << QStringLiteral("sample rate %1, not %2")
                            .arg(audio->sampleRate)
                            .arg(expectedRate);
        const int askedChannels = optionValue(options, QStringLiteral("-ac")).toInt();
        int expectedChannels = askedChannels > 0 ? askedChannels : source.channels;
        if (keyIn(key, { "ntsc-vcd", "pal-vcd" }))
            expectedChannels = 2; // a Video CD has stereo sound
        if (audio->channels != expectedChannels)
            problems
                << QStringLiteral("%1 channels, not %2").arg(audio->channels).arg(expectedChannels);
        // One frame either way, and the encoder's priming where the container cannot tell
        // players to skip it.
        const double length = double(audio->samples) / std::max(1, audio->sampleRate);
        const int tolerance = audio->frameSamples + primingSamples(key);
        if (!video && std::abs(length - kCutLength) * audio->sampleRate > tolerance + 1)
            problems << QStringLiteral("audio length %1 s").arg(length);
    }
    if (!probed.decodeErrors.isEmpty())
        problems << QStringLiteral("decode errors: ") + probed.decodeErrors.left(300);
    return problems.join(QStringLiteral("; "));
}

void TestCatalogueEndToEnd::matrix_data()
{
    QTest::addColumn<QString>("key");
    QStringList keys;
    for (const CatalogueEntry &e : Catalogue::entries()) {
        if (!keys.contains(e.formatKey())) {
            keys << e.formatKey();
            QTest::newRow(e.FormatKey) << e.formatKey();
        }
    }
}

// Two conversions run at a time (the machine has two cores); each is checked when it ends.
void TestCatalogueEndToEnd::matrix()
{
    QFETCH(QString, key);
    const QList<Case> all = cases(key);
    QList<BuildInputs> inputs;
    for (const Source &s : std::as_const(m_sources))
        inputs << inputsFor(s);
    QStringList problems;
    std::vector<std::unique_ptr<Run>> runs;
    int running = 0;
    qsizetype next = 0;
    qsizetype finished = 0;
    QEventLoop loop;

    auto conclude = [&](Run *run) {
        const QString problem = check(*run);
        if (!problem.isEmpty()) {
            problems << QStringLiteral("%1 <- %2: %3")
                            .arg(run->c.label(), QLatin1String(m_sources.at(run->c.source).name),
                                 problem);
            qWarning("%s", qPrintable(problems.last()));
        }
        if (!run->output.isEmpty())
            QFile::remove(run->output);
        ++finished;
    };
    std::function<void()> startNext = [&] {
        while (running < 2 && next < all.size()) {
            runs.push_back(std::make_unique<Run>());
            Run *run = runs.back().get();
            run->c = all.at(next++);
            const CatalogueEntry &e = *run->c.entry;
            OutputSettingsModel model;
            model.load(m_dir.filePath(QStringLiteral("out")));
            model.option2Click();
            model.SelectCatalogueEntry(e.Id, e.caption());
            model.selectVideoQuality(run->c.quality);
            model.selectAudioQuality(run->c.quality);
            if (run->c.sizeIndex > 0)
                model.selectSize(run->c.sizeIndex);
            for (const auto &[caption, value] : run->c.grid)
                QVERIFY2(model.grid().userEdit(QLatin1String(caption), value), caption);
            BuilderMemory memory;
            run->built = BuildEncoderArguments(model, inputs.at(run->c.source), memory);
            run->output = m_dir.filePath(
                QStringLiteral("out/%1.%2").arg(next).arg(run->built.OutputExtension));
            run->encoder = std::make_unique<FfmpegEncoder>();
            run->encoder->loadLibrary(QString());
            run->encoder->setDeviceLimits(run->built.Device);
            const int input
                = run->encoder->addInputFile(m_sources.at(run->c.source).path,
                                             QStringLiteral("-TimeStart ") + NumberText(kCutStart));
            if (input < 0
                || run->encoder->addOutputFile(input, run->output, run->built.EncoderArguments)
                    < 0) {
                run->refused = true;
                run->message = run->encoder->lastErrorText();
                run->output.clear();
                conclude(run);
                continue;
            }
            connect(run->encoder.get(), &Encoder::encoderFinished, &loop,
                    [&, run](int, bool ok, bool, const QString &message) {
                        run->succeeded = ok;
                        run->message = message;
                        --running;
                        conclude(run);
                        run->encoder.release()->deleteLater();
                        startNext();
                    });
            ++running;
            run->encoder->startEncoding();
        }
        if (running == 0 && next >= all.size())
            loop.quit();
    };
    startNext();
    if (finished < all.size())
        loop.exec();
    qInfo("%lld conversions", qlonglong(all.size()));
    QCOMPARE(finished, all.size());
    QVERIFY2(problems.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 conversions wrong (listed above)")
                            .arg(problems.size())
                            .arg(all.size())));
}

void TestCatalogueEndToEnd::directCopies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("codecs");
    QTest::newRow("mp4") << "copy-src.mp4" << QStringList { "-c:v",      "libx264", "-preset",
                                                            "ultrafast", "-c:a",    "aac" };
    QTest::newRow("mkv") << "copy-src.mkv" << QStringList { "-c:v",      "libx264", "-preset",
                                                            "ultrafast", "-c:a",    "libvorbis" };
    QTest::newRow("mp3") << "copy-src.mp3" << QStringList { "-vn", "-c:a", "libmp3lame" };
    // The header of a FLAC file states its length: the cut's must state the cut's.
    QTest::newRow("flac") << "copy-src.flac" << QStringList { "-vn", "-c:a", "flac" };
    QTest::newRow("no extension") << "copy-src"
                                  << QStringList { "-c:v", "libx264", "-preset", "ultrafast",
                                                   "-c:a", "aac",     "-f",      "mp4" };
}

void TestCatalogueEndToEnd::directCopies()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codecs);
    const QString source = m_dir.filePath(name);
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=6",
                                 "-f", "lavfi", "-i", "sine=duration=6", "-g", "10", "-shortest" }
                   + codecs + QStringList { source }));
    Source s;
    s.path = source;
    BuildInputs in = inputsFor(s);
    in.CutStartSeconds = 1.5;
    in.CutLengthSeconds = 2;
    OutputSettingsModel model;
    model.load(m_dir.filePath(QStringLiteral("out")));
    model.option1Click();
    BuilderMemory memory;
    const EncoderJob built = BuildEncoderArguments(model, in, memory);
    QVERIFY(built.DirectCopyMode);
    const QString output
        = m_dir.filePath(QStringLiteral("out/%1-cut.%2").arg(name, built.OutputExtension));
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const int input = encoder.addInputFile(source, QString());
    QVERIFY(input >= 0);
    QVERIFY2(encoder.addOutputFile(input, output, built.EncoderArguments) >= 0,
             qPrintable(encoder.lastErrorText()));
    bool done = false, ok = false;
    QString message;
    connect(&encoder, &Encoder::encoderFinished, this, [&](int, bool s, bool, const QString &m) {
        done = true;
        ok = s;
        message = m;
    });
    encoder.startEncoding();
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    QVERIFY2(ok, qPrintable(message));
    const ProbeResult p = ffprobe(output);
    QVERIFY(p.ok);
    // A copy starts at the key frame at or before the start (every 0.4 s here), so it may be
    // up to one key-frame interval longer; containers with edit lists (mp4) trim it exactly.
    QVERIFY2(p.duration >= 1.8 && p.duration <= 2.0 + 0.4 + 0.2,
             qPrintable(QString::number(p.duration)));
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestCatalogueEndToEnd)
#include "tst_catalogue_e2e.moc"
