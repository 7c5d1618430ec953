#include "av1obus.h"
#include "avlogging.h"
#include "cutplanner.h"
#include "ffmpegencoder.h"
#include "mediafixtures.h"
#include "nalrewrite.h"
#include "nalunits.h"
#include "streamcopy.h"
#include "timecode.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace MediaFixtures;

// Direct copies cut to the frame, on sources whose frames carry their own index (three blocks
// of grey levels, base 16): the first and last output frames, the copied packets against the
// source's, every stream and chapter, and a clean decode.
class TestExactCopy : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void plan_data();
    void plan();
    void cut_data();
    void cut();
    void keyFrameCopy_data();
    void keyFrameCopy();
    void damagedSource_data();
    void damagedSource();
    void audioOnly_data();
    void audioOnly();
    void metadata_data();
    void metadata();
    void rewrite_data();
    void rewrite();

private:
    QString source(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

namespace {

constexpr int kW = 192;
constexpr int kH = 64;
constexpr int kGop = 50; // 2 s at 25 fps

QJsonObject probeJson(const QString &path, const QStringList &what)
{
    QByteArray out;
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            QStringList { "-v", "error", "-print_format", "json" } + what + QStringList { path });
    p.waitForFinished(60000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// Presentation times (seconds from the file's start) of the video frames, in display order:
// the packets', or where they carry none (AVI), the decoded frames' (less a last one the
// decoder gives no time).
QList<double> frameTimes(const QString &path)
{
    for (const QString what : { "packet=pts_time", "frame=best_effort_timestamp_time" }) {
        const bool packets = what.startsWith(QLatin1String("packet"));
        const QJsonObject o = probeJson(
            path, { "-select_streams", "v:0", "-show_entries", what + ":format=start_time" });
        const double start = o.value("format").toObject().value("start_time").toString().toDouble();
        QList<double> times;
        bool timed = true;
        for (const auto &p : o.value(packets ? "packets" : "frames").toArray()) {
            const QString t = p.toObject().value(what.section('=', 1)).toString();
            timed = timed && !t.isEmpty() && t != QLatin1String("N/A");
            if (!t.isEmpty() && t != QLatin1String("N/A"))
                times << t.toDouble() - start;
        }
        std::sort(times.begin(), times.end());
        if (timed || !packets)
            return times;
    }
    return {};
}

// The decoded pictures as stored (yuv420p, whole frames), in display order (by the decoder
// named, or ffmpeg's first for the codec).
QByteArray rawFrames(const QString &path, const QStringList &filter = {},
                     const QString &decoder = {})
{
    QProcess p;
    const QStringList input = decoder.isEmpty() ? QStringList() : QStringList { "-c:v", decoder };
    p.start(QStringLiteral("ffmpeg"),
            QStringList { "-nostdin", "-v", "error" } + input
                + QStringList { "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough" } + filter
                + QStringList { "-pix_fmt", "yuv420p", "-f", "rawvideo", "-" });
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

// The index painted into each decoded frame (its top-left corner).
QList<int> frameIndexes(const QString &path)
{
    const QByteArray raw
        = rawFrames(path, { "-vf", QStringLiteral("crop=%1:%2:0:0").arg(kW).arg(kH) });
    QList<int> indexes;
    // The luma plane as stored: no range conversion touches the painted levels.
    for (qsizetype at = 0; at + kW * kH * 3 / 2 <= raw.size(); at += kW * kH * 3 / 2) {
        const auto *frame = reinterpret_cast<const uchar *>(raw.constData() + at);
        int n = 0;
        for (int block = 0; block < 3; ++block) {
            double sum = 0;
            for (int y = 16; y < 48; ++y)
                for (int x = block * 64 + 16; x < block * 64 + 48; ++x)
                    sum += frame[y * kW + x];
            n = n * 16 + std::clamp(int(std::lround((sum / 1024 - 8.0) / 16.0)), 0, 15);
        }
        indexes << n;
    }
    return indexes;
}

struct Packet
{
    qint64 pts = 0;
    qint64 size = 0;
    QString hash;
};

// The video packets as stored, in decoding order.
QList<Packet> packets(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            { "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f",
              "framemd5", "-" });
    p.waitForFinished(60000);
    QList<Packet> list;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        // stream, dts, pts, duration, size, hash, and the side data, if any
        const QList<QByteArray> fields = line.split(',');
        if (!line.startsWith('#') && fields.size() >= 6)
            list << Packet { fields.at(2).trimmed().toLongLong(),
                             fields.at(4).trimmed().toLongLong(),
                             QString::fromLatin1(fields.at(5).trimmed()) };
    }
    return list;
}

// The distinct AV1 sequence headers the video carries in its temporal units.
int distinctAv1Headers(const QString &path)
{
    QProcess p;
    p.start(
        QStringLiteral("ffmpeg"),
        { "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f", "obu", "-" });
    p.waitForFinished(60000);
    const QByteArray units = p.readAllStandardOutput();
    QSet<QByteArray> headers;
    for (const Av1Obus::Unit &u : Av1Obus::split(units)) {
        if (u.type == Av1Obus::SequenceHeader)
            headers << units.mid(u.offset, u.size);
    }
    return int(headers.size());
}

QStringList packetHashes(const QString &path)
{
    QStringList hashes;
    for (const Packet &p : packets(path))
        hashes << p.hash;
    return hashes;
}

// How the re-encoded frames of an output stand beside the source's: how many there are, the
// lowest PSNR of one against the source frame it replaces (luma, dB), and their bytes against
// the bytes the source spent on those frames.
struct EditQuality
{
    int encoded = 0;
    double minPsnr = 1e9;
    double bytesRatio = 0;
};

EditQuality editQuality(const QString &source, const QString &output, const QList<int> &shown,
                        QSize size)
{
    EditQuality q;
    const QByteArray in = rawFrames(source);
    const QByteArray out = rawFrames(output);
    const qsizetype frame = qsizetype(size.width()) * size.height() * 3 / 2;
    const qsizetype luma = qsizetype(size.width()) * size.height();
    for (int k = 0; k < shown.size() && (k + 1) * frame <= out.size(); ++k) {
        if ((shown.at(k) + 1) * frame > in.size())
            return {};
        const char *a = out.constData() + k * frame;
        const char *b = in.constData() + shown.at(k) * frame;
        if (memcmp(a, b, size_t(frame)) == 0)
            continue; // copied
        double sum = 0;
        for (qsizetype i = 0; i < luma; ++i) {
            const double d = double(uchar(a[i])) - double(uchar(b[i]));
            sum += d * d;
        }
        ++q.encoded;
        q.minPsnr
            = std::min(q.minPsnr, sum > 0 ? 10 * std::log10(255.0 * 255.0 * luma / sum) : 99.0);
    }
    // The new packets, by their place in display order, against the source's packets of the
    // frames shown there.
    QList<Packet> sourcePackets = packets(source);
    QList<Packet> outputPackets = packets(output);
    QSet<QString> sourceHashes;
    for (const Packet &p : sourcePackets)
        sourceHashes << p.hash;
    const auto byPts = [](const Packet &a, const Packet &b) { return a.pts < b.pts; };
    std::sort(sourcePackets.begin(), sourcePackets.end(), byPts);
    std::sort(outputPackets.begin(), outputPackets.end(), byPts);
    qint64 newBytes = 0;
    qint64 replacedBytes = 0;
    for (int k = 0; k < outputPackets.size() && k < shown.size(); ++k) {
        if (sourceHashes.contains(outputPackets.at(k).hash) || shown.at(k) >= sourcePackets.size())
            continue;
        newBytes += outputPackets.at(k).size;
        replacedBytes += sourcePackets.at(shown.at(k)).size;
    }
    q.bytesRatio = replacedBytes > 0 ? double(newBytes) / double(replacedBytes) : 0;
    return q;
}

// Each decoded frame's "interlaced,top field first" flags (of the first `frames`; -1: all).
QSet<QString> fieldFlags(const QString &path, int frames = -1)
{
    QStringList args { "-v",  "error",         "-select_streams",
                       "v:0", "-show_entries", "frame=interlaced_frame,top_field_first",
                       "-of", "csv=p=0" };
    if (frames > 0)
        args << "-read_intervals" << QStringLiteral("%+#%1").arg(frames);
    QProcess p;
    p.start(QStringLiteral("ffprobe"), args << path);
    p.waitForFinished(60000);
    QSet<QString> flags;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() >= 2)
            flags << QString::fromLatin1(fields.at(0) + ',' + fields.at(1));
    }
    return flags;
}

struct Stream
{
    QString type;
    QString codec;
    QString language;
    QString tag;
};

QList<Stream> streams(const QString &path, int *chapters = nullptr)
{
    const QJsonObject o = probeJson(path, { "-show_streams", "-show_chapters" });
    QList<Stream> list;
    for (const auto &s : o.value("streams").toArray()) {
        const QJsonObject st = s.toObject();
        list << Stream { st.value("codec_type").toString(), st.value("codec_name").toString(),
                         st.value("tags").toObject().value("language").toString(),
                         st.value("codec_tag_string").toString() };
    }
    if (chapters)
        *chapters = int(o.value("chapters").toArray().size());
    return list;
}

// Starts (seconds) of the first packets of the first video and audio streams.
std::pair<double, double> firstTimes(const QString &path)
{
    const QJsonObject o = probeJson(path, { "-show_entries", "stream=codec_type,start_time" });
    double video = -1, audio = -1;
    for (const auto &s : o.value("streams").toArray()) {
        const QJsonObject st = s.toObject();
        const double t = st.value("start_time").toString().toDouble();
        if (st.value("codec_type").toString() == "video" && video < 0)
            video = t;
        if (st.value("codec_type").toString() == "audio" && audio < 0)
            audio = t;
    }
    return { video, audio };
}

struct Run
{
    bool ok = false;
    QString message;
    CopyNotes notes;

    QString noteText() const
    {
        QStringList texts;
        for (const CopyNote &n : notes)
            texts << n.text;
        return texts.join(QLatin1Char(' '));
    }
};

Run copyRange(const QString &input, const QString &output, double start, double end, bool exact)
{
    FfmpegEncoder encoder;
    if (!encoder.loadLibrary(QString()))
        return { false, encoder.lastErrorText(), {} };
    encoder.setExactCopy(exact);
    const int in = encoder.addInputFile(input, QString());
    if (in < 0
        || encoder.addOutputFile(in, output,
                                 QStringLiteral("-vcodec copy -acodec copy -ss %1 -t %2")
                                     .arg(NumberText(start), NumberText(end - start)))
            < 0)
        return { false, encoder.lastErrorText(), {} };
    Run run;
    bool finished = false;
    QObject::connect(&encoder, &Encoder::encoderFinished, &encoder,
                     [&](int, bool ok, bool, const QString &message) {
                         run = { ok, message, encoder.copyNotes() };
                         finished = true;
                     });
    encoder.startEncoding();
    QDeadlineTimer deadline(120000);
    while (!finished && !deadline.hasExpired())
        QTest::qWait(10);
    run.notes = encoder.copyNotes();
    return run;
}

quint32 be(const QByteArray &d, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | uchar(d.at(at + i));
    return v;
}
void setBe(QByteArray &d, qsizetype at, quint32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        d[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

// Rewrites the decoder configuration (the payload of the avcC or hvcC box) of the first track
// of an MP4 whose movie box follows the media (so that no chunk offset moves), and resizes the
// boxes around it.
bool patchConfig(const QString &in, const QString &out,
                 const std::function<QByteArray(const QByteArray &)> &change)
{
    QFile file(in);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray d = file.readAll();
    QList<qsizetype> path; // the boxes around the configuration
    qsizetype from = 0;
    qsizetype to = d.size();
    // The last two: the first sample entry, and the configuration in it.
    for (const QByteArray name : { "moov", "trak", "mdia", "minf", "stbl", "stsd", "", "C" }) {
        qsizetype at = from;
        auto wanted = [&] {
            const QByteArray type = d.mid(at + 4, 4);
            return name.isEmpty() || type == name
                || (name == "C" && (type == "avcC" || type == "hvcC"));
        };
        while (at + 8 <= to && !wanted())
            at += std::max<qsizetype>(8, be(d, at, 4));
        if (at + 8 > to)
            return false;
        path << at;
        // Children follow the entry count of stsd and the fields of a visual sample entry.
        from = at + (name == "stsd" ? 16 : name.isEmpty() ? 8 + 78 : 8);
        to = at + be(d, at, 4);
    }
    const qsizetype box = path.last();
    const QByteArray config = change(d.mid(box + 8, be(d, box, 4) - 8));
    const qsizetype grown = config.size() - (be(d, box, 4) - 8);
    d = d.left(box + 8) + config + d.mid(box + be(d, box, 4));
    for (const qsizetype at : path)
        setBe(d, at, quint32(be(d, at, 4) + grown), 4);
    QFile patched(out);
    return patched.open(QIODevice::WriteOnly) && patched.write(d) == d.size();
}

// hvcC edits: a unit of length 0 in the prefix SEI array (added when there is none), or the
// arrays of one NAL unit type left out.
QByteArray withEmptySeiUnit(const QByteArray &hvcc)
{
    qsizetype at = 23;
    for (int a = 0; a < uchar(hvcc.at(22)); ++a) {
        const int count = int(be(hvcc, at + 1, 2));
        if ((uchar(hvcc.at(at)) & 0x3f) == 39) {
            QByteArray out = hvcc;
            setBe(out, at + 1, quint32(count + 1), 2);
            return out.insert(at + 3, QByteArray(2, '\0'));
        }
        at += 3;
        for (int i = 0; i < count; ++i)
            at += 2 + be(hvcc, at, 2);
    }
    QByteArray out = hvcc + QByteArray("\x27\x00\x01\x00\x00", 5);
    out[22] = char(uchar(out.at(22)) + 1);
    return out;
}
QByteArray withoutHevcType(const QByteArray &hvcc, int type)
{
    QByteArray out = hvcc.left(23);
    qsizetype at = 23;
    for (int a = 0; a < uchar(hvcc.at(22)); ++a) {
        const qsizetype begin = at;
        const int count = int(be(hvcc, at + 1, 2));
        at += 3;
        for (int i = 0; i < count; ++i)
            at += 2 + be(hvcc, at, 2);
        if ((uchar(hvcc.at(begin)) & 0x3f) != type)
            out += hvcc.mid(begin, at - begin);
        else
            out[22] = char(uchar(out.at(22)) - 1);
    }
    return out + hvcc.mid(at);
}
// avcC without its picture parameter sets.
QByteArray withoutPps(const QByteArray &avcc)
{
    qsizetype at = 6;
    for (int i = 0; i < (uchar(avcc.at(5)) & 0x1f); ++i)
        at += 2 + be(avcc, at, 2);
    qsizetype end = at + 1;
    for (int i = 0; i < uchar(avcc.at(at)); ++i)
        end += 2 + be(avcc, end, 2);
    return avcc.left(at) + QByteArray(1, '\0') + avcc.mid(end);
}

} // namespace

void TestExactCopy::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    // Block b shows digit b of the frame number (base 16) as the grey level digit * 16 + 8.
    const auto paint = [](int seconds) {
        return QStringLiteral(
                   "color=black:s=%1x%2:r=25:d=%3,format=yuv420p,"
                   "geq=lum='(floor(mod(N/pow(16,2-floor(X/64)),16))*16+8)':cb=128:cr=128")
            .arg(kW)
            .arg(kH)
            .arg(seconds);
    };
    const QString painted = paint(8);
    const QStringList x264 { "-c:v",
                             "libx264",
                             "-preset",
                             "fast",
                             "-crf",
                             "10",
                             "-bf",
                             "3",
                             "-g",
                             QString::number(kGop),
                             "-sc_threshold",
                             "0" };
    const QStringList tone { "-f", "lavfi", "-i",
                             "sine=frequency=440:sample_rate=48000:duration=8" };
    // 45 s: a long range is read in two windows before the copy.
    for (const char *ext : { "mkv", "ts" })
        QVERIFY(ffmpeg(
            QStringList { "-f", "lavfi", "-i", paint(45), "-f", "lavfi", "-i", "sine=duration=45" }
            + x264 + QStringList { "-c:a", "aac", source(QStringLiteral("long.") + ext) }));
    for (const char *ext : { "mp4", "mkv", "ts" })
        QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", painted } + tone + x264
                       + QStringList { "-c:a", "aac", source(QStringLiteral("h264.") + ext) }));
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", painted + ",format=yuv420p10le", "-c:v", "libx265",
                     "-crf", "8", "-x265-params",
                     QStringLiteral("log-level=error:keyint=%1:min-keyint=%1:bframes=3").arg(kGop),
                     source("hevc10.mkv") }));
    // In MP4 as "hvc1", which promises every parameter set in the decoder configuration.
    QVERIFY(ffmpeg(
        { "-i", source("hevc10.mkv"), "-c", "copy", "-tag:v", "hvc1", source("hevc10.mp4") }));
    // The same with a unit of length 0 in its configuration, which decoders skip there but
    // refuse in the stream.
    QVERIFY(patchConfig(source("hevc10.mp4"), source("hevc10-empty.mp4"), withEmptySeiUnit));
    QVERIFY(ffmpeg({ "-i", source("hevc10-empty.mp4"), "-c", "copy", source("hevc10-empty.mkv") }));
    // H.264 with open GOPs: after the first frame the key frames are recovery points, not IDRs.
    QVERIFY(ffmpeg(
        QStringList { "-f", "lavfi", "-i", painted } + tone + x264
        + QStringList { "-x264-params", "open-gop=1", "-c:a", "aac", source("opengop.ts") }));
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", painted } + tone
                   + QStringList { "-c:v", "mpeg2video", "-q:v", "2", "-bf", "2", "-g", "25",
                                   "-c:a", "mp2", source("mpeg2.ts") }));
    // MPEG-PS with AC-3, whose frames straddle the PES packets, on grainy content around the
    // index in the top-left corner: at 8 Mb/s,
    // and at quantiser 2 (about 50 Mb/s), whose frames are larger than the muxer's buffer.
    struct Ps
    {
        const char *name;
        const char *rate;
        int noise;
        int seconds;
    };
    for (const Ps &ps :
         { Ps { "ps-8M.mpg", "-b:v 8M", 12, 5 }, Ps { "ps-q2.mpg", "-q:v 2", 40, 3 } })
        QVERIFY(ffmpeg(
            QStringList {
                "-f", "lavfi", "-i",
                paint(ps.seconds)
                    + QStringLiteral(",pad=720:576:0:0,noise=alls=%1:allf=t+u").arg(ps.noise),
                "-f", "lavfi", "-i",
                QStringLiteral("sine=sample_rate=48000:duration=%1").arg(ps.seconds) }
            + QString::fromLatin1(ps.rate).split(' ')
            + QStringList { "-c:v", "mpeg2video", "-g", "15", "-c:a", "ac3",
                            source(QString::fromLatin1(ps.name)) }));
    // Two audio languages, a SubRip subtitle, two chapters and a font.
    QFile srt(source("text.srt"));
    QVERIFY(srt.open(QIODevice::WriteOnly));
    srt.write(
        "1\n00:00:01,000 --> 00:00:03,000\nHello\n\n2\n00:00:05,000 --> 00:00:07,500\nWorld\n");
    srt.close();
    QFile chapters(source("chapters.txt"));
    QVERIFY(chapters.open(QIODevice::WriteOnly));
    chapters.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\ntitle=One\n"
                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\nEND=8000\ntitle=Two\n");
    chapters.close();
    QFile font(source("font.ttf"));
    QVERIFY(font.open(QIODevice::WriteOnly));
    font.write(QByteArray(4096, 'f'));
    font.close();
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", painted } + tone
                   + QStringList { "-f", "lavfi", "-i", "sine=frequency=660:duration=8", "-i",
                                   source("text.srt"), "-i", source("chapters.txt"), "-map", "0",
                                   "-map", "1", "-map", "2", "-map", "3", "-map_chapters", "4" }
                   + x264
                   + QStringList { "-c:a", "aac", "-c:s", "srt", "-metadata:s:a:0", "language=eng",
                                   "-metadata:s:a:1", "language=deu", "-metadata:s:s:0",
                                   "language=eng", "-attach", source("font.ttf"), "-metadata:s:t",
                                   "mimetype=application/x-truetype-font", source("multi.mkv") }));

    // As cameras and encoders' defaults make them: moving detailed pictures with grain, a scene
    // change to bars at 4.52 s (frame 113), the index painted into the top-left corner,
    // 320x180; the encoders' own GOPs (scene cuts, x265's open GOPs with leading pictures).
    const auto grainy = [&](const QStringList &codec, const QString &name) {
        const QStringList scenes = QStringLiteral("-f lavfi -i testsrc2=s=320x180:r=25:d=4.52 "
                                                  "-f lavfi -i smptehdbars=s=320x180:r=25:d=2.48 "
                                                  "-f lavfi -i sine=duration=7")
                                       .split(QLatin1Char(' '));
        return ffmpeg(scenes
                      + QStringList { "-f", "lavfi", "-i", paint(7), "-filter_complex",
                                      "[0][1]concat=n=2,format=yuv420p,noise=alls=40:allf=t+u[n];"
                                      "[n][3]overlay,format=yuv420p[v]",
                                      "-map", "[v]", "-map", "2" }
                      + codec + QStringList { "-c:a", "aac", source(name) });
    };
    QVERIFY(grainy({ "-c:v", "libx264" }, "grainy-h264.mp4"));
    // Three seconds of the same for the codecs beside H.264 and HEVC (576i: two seconds).
    const auto grainy3 = [&](const QStringList &codec, const QString &size, const QString &name) {
        const bool sd = size.startsWith(QLatin1Char('7'));
        return ffmpeg(QStringList { "-f", "lavfi", "-i",
                                    QStringLiteral("testsrc2=s=%1:r=25:d=3").arg(size), "-f",
                                    "lavfi", "-i", paint(3), "-filter_complex",
                                    QStringLiteral("[0]format=yuv420p,noise=alls=40:allf=t+u[n];"
                                                   "[n][1]overlay,format=yuv420p,setfield=%1[v]")
                                        .arg(codec.contains("+ildct+ilme") ? "tff" : "auto"),
                                    "-map", "[v]", "-t", sd ? "2" : "3" }
                      + codec + QStringList { source(name) });
    };
    QVERIFY(grainy3({ "-c:v", "libvpx-vp9", "-g", "25", "-deadline", "realtime", "-cpu-used", "8" },
                    "320x180", "grainy-vp9.webm"));
    QVERIFY(grainy3({ "-c:v", "libsvtav1", "-g", "25" }, "320x180", "grainy-av1.mp4"));
    QVERIFY(grainy3({ "-c:v", "libaom-av1", "-cpu-used", "6", "-g", "25" }, "320x180",
                    "grainy-aom.mp4"));
    // (MPEG-2 and MPEG-4 part 2 at quantiser 4: at their default rates the painted index
    // itself blurs.)
    QVERIFY(grainy3({ "-c:v", "mpeg4", "-bf", "2", "-g", "25", "-q:v", "4" }, "320x180",
                    "grainy-mpeg4.avi"));
    QVERIFY(
        grainy3({ "-c:v", "libx264", "-flags", "+ildct+ilme", "-x264-params", "tff=1", "-g", "25" },
                "320x180", "grainy-interlaced.ts"));
    QVERIFY(grainy3({ "-c:v", "mpeg2video", "-flags", "+ildct+ilme", "-top", "1", "-q:v", "4", "-g",
                      "25", "-bf", "2" },
                    "720x576", "grainy-576i.ts"));
    QVERIFY(grainy({ "-c:v", "libx265", "-x265-params", "log-level=error" }, "grainy-hevc.mp4"));
    QVERIFY(grainy({ "-c:v", "libx264", "-x264-params", "open-gop=1:keyint=50" },
                   "grainy-opengop.mp4"));
    for (const char *name : { "grainy-h264", "grainy-hevc", "grainy-opengop" }) {
        for (const char *ext : { "ts", "mkv" })
            QVERIFY(ffmpeg({ "-i", source(QStringLiteral("%1.mp4").arg(name)), "-c", "copy",
                             source(QStringLiteral("%1.%2").arg(name, ext)) }));
    }
    // Key-frame copies: MPEG-4 part 2 in AVI, whose references carry no presentation time
    // (B-frames, and the packed B-frames of XviD), and interlaced H.264 in MPEG-TS.
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", paint(8) } + tone
                   + QStringList { "-c:v", "mpeg4", "-bf", "2", "-g", "12", "-c:a", "mp3",
                                   source("mpeg4.avi") }));
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", paint(8) } + tone
                   + QStringList { "-c:v", "libxvid", "-bf", "2", "-g", "12", "-c:a", "mp3",
                                   source("xvid.avi") }));
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", paint(8) } + tone
                   + QStringList { "-vf", "setfield=tff", "-c:v", "libx264", "-flags",
                                   "+ildct+ilme", "-x264-params", "tff=1", "-g", "25", "-c:a",
                                   "aac", source("interlaced.ts") }));
    // The codecs beside H.264 and HEVC, three seconds with a key frame every second: VP9 of
    // two passes (hidden alternate reference frames in superframes), MPEG-4 part 2 with
    // B-frames, interlaced H.264 (MBAFF, top field first), MPEG-2 576i.
    const QStringList indexed3 { "-f", "lavfi", "-i", paint(3),
                                 "-f", "lavfi", "-i", "sine=sample_rate=48000:duration=3" };
    const QStringList vp9 {
        "-c:v", "libvpx-vp9", "-b:v", "300k",          "-g", "25",           "-deadline",
        "good", "-cpu-used",  "4",    "-auto-alt-ref", "1",  "-passlogfile", source("vp9pass")
    };
    QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", paint(3) } + vp9
                   + QStringList { "-pass", "1", "-f", "null", "-" }));
    QVERIFY(ffmpeg(indexed3 + vp9
                   + QStringList { "-pass", "2", "-c:a", "libopus", source("vp9.webm") }));
    QVERIFY(ffmpeg({ "-i", source("vp9.webm"), "-c", "copy", source("vp9.mkv") }));
    QVERIFY(
        ffmpeg(indexed3 + vp9 + QStringList { "-pass", "2", "-c:a", "aac", source("vp9.mp4") }));
    for (const char *name : { "mpeg4-3s.avi", "mpeg4.mp4" })
        QVERIFY(ffmpeg(indexed3
                       + QStringList { "-c:v", "mpeg4", "-bf", "2", "-g", "25", "-c:a", "mp3",
                                       source(name) }));
    QVERIFY(ffmpeg(indexed3
                   + QStringList { "-vf", "setfield=tff", "-c:v", "libx264", "-flags",
                                   "+ildct+ilme", "-x264-params", "tff=1", "-g", "25", "-c:a",
                                   "aac", source("interlaced.mkv") }));
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i",
                     paint(2) + ",pad=720:576:0:0,noise=alls=12:allf=t+u,setfield=tff", "-c:v",
                     "mpeg2video", "-flags", "+ildct+ilme", "-top", "1", "-b:v", "6M", "-g", "12",
                     "-bf", "2", source("mpeg2-576i.ts") }));
    // AV1 as SVT-AV1's defaults make it (hidden frames shown later), in WebM, Matroska and MP4.
    QVERIFY(ffmpeg(
        indexed3
        + QStringList { "-c:v", "libsvtav1", "-g", "25", "-c:a", "libopus", source("av1.webm") }));
    QVERIFY(ffmpeg({ "-i", source("av1.webm"), "-c", "copy", source("av1.mkv") }));
    QVERIFY(ffmpeg(
        indexed3
        + QStringList { "-c:v", "libsvtav1", "-g", "25", "-c:a", "aac", source("av1.mp4") }));
    // CAVLC slices without weighted prediction (Baseline profile).
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", painted, "-c:v", "libx264", "-profile:v", "baseline",
                     "-g", "25", source("baseline.mp4") }));
}

void TestExactCopy::plan_data()
{
    // Display times of one GOP pattern in decoding order, in frame units, and per packet what
    // it allows: 'C' a clean start (a copy may follow new frames there), 'K' a key frame that
    // decoding may start on (an H.264 open-GOP recovery point), '.' neither.
    QTest::addColumn<QList<qint64>>("pts");
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("head"); // frames encoded before the copy
    QTest::addColumn<int>("copied");
    QTest::addColumn<int>("tail"); // frames encoded after it
    QTest::addColumn<int>("headFrom"); // the packet the head's decoder starts on
    // Closed GOPs of eight: I0 P4 B2 B1 B3 P7 B5 B6, then I8 ...
    const QList<qint64> closed { 0, 4, 2, 1, 3, 7, 5, 6, 8, 12, 10, 9, 11, 15, 13, 14, 16 };
    const QString closedKinds = QStringLiteral("C.......C.......C");
    QTest::newRow("on a key frame, to a key frame")
        << closed << closedKinds << true << qint64(0) << qint64(8) << 0 << 8 << 0 << -1;
    QTest::newRow("end before a P frame needs a tail")
        << closed << closedKinds << true << qint64(0) << qint64(6) << 0 << 5 << 1 << -1;
    QTest::newRow("one after a key frame")
        << closed << closedKinds << true << qint64(1) << qint64(16) << 7 << 8 << 0 << 0;
    QTest::newRow("inside one interval")
        << closed << closedKinds << true << qint64(2) << qint64(6) << 4 << 0 << 0 << 0;
    // The key-frame copy ends before the end: B5 needs P7, shown after it, so both are left
    // out; no frame is missing before the last.
    QTest::newRow("key-frame copy ends before what it cannot show")
        << closed << closedKinds << false << qint64(1) << qint64(6) << 0 << 5 << 0 << -1;
    // Open GOP: the second key frame (9) has leading pictures 7 and 8 after it.
    const QList<qint64> open { 0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11 };
    QTest::newRow("leading pictures go to the head")
        << open << QStringLiteral("C......C.....") << true << qint64(5) << qint64(13) << 4 << 4 << 0
        << 0;
    // H.264 open GOP: key frame 9 is a recovery point, not an IDR. New frames cannot be
    // followed by it, but the head's decoder starts there, not at the first IDR.
    QTest::newRow("recovery point starts the head's decoder")
        << open << QStringLiteral("C......K.....") << true << qint64(9) << qint64(13) << 4 << 0 << 0
        << 7;
    QTest::newRow("key-frame copy starts on a recovery point")
        << open << QStringLiteral("C......K.....") << false << qint64(10) << qint64(13) << 0 << 4
        << 0 << -1;
    // Matroska clusters whose timestamps are out of order: 14 s of intra frames at 40,000 a
    // second, the cluster from 12 s stamped 0 s, the one from 13 s stamped 1.8 s. The copy
    // stops where 1.8 s comes again; planning it takes linear time.
    const qint64 rate = 40000;
    QList<qint64> jumps;
    jumps.reserve(14 * rate);
    for (qint64 i = 0; i < 12 * rate; ++i)
        jumps << i;
    for (qint64 i = 0; i < rate; ++i)
        jumps << i;
    for (qint64 i = 0; i < rate; ++i)
        jumps << 18 * rate / 10 + i;
    QTest::newRow("clusters out of order")
        << jumps << QString(jumps.size(), QLatin1Char('C')) << true << 13 * rate / 10
        << 127 * rate / 10 << 0 << int(rate / 2) << int(112 * rate / 10) << -1;
}

void TestExactCopy::plan()
{
    QFETCH(QList<qint64>, pts);
    QFETCH(QString, kinds);
    QFETCH(bool, exact);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QList<CutFrame> frames;
    for (int i = 0; i < pts.size(); ++i)
        frames << CutFrame { pts.at(i), kinds.at(i) == 'C', kinds.at(i) != '.' };
    const CutPlan plan = PlanCut(frames, start, end, exact);
    QVERIFY2(plan.ok, qPrintable(plan.error));
    QTEST(plan.head.frames, "head");
    QTEST(plan.copiedCount(), "copied");
    QTEST(plan.tail.frames, "tail");
    QTEST(plan.head.decodeFrom, "headFrom");
    if (exact) {
        // Every frame of the range is shown once: encoded, or copied with what it refers to.
        int inRange = 0;
        for (const qint64 t : pts)
            inRange += t >= start && t < end;
        QCOMPARE(plan.head.frames + plan.copiedCount() + plan.tail.frames, inRange);
    } else {
        // The copy shows a run of frames from its key frame, with none missing.
        QList<qint64> shown;
        for (int i = 0; i < pts.size(); ++i) {
            if (plan.copies(i))
                shown << pts.at(i);
        }
        std::sort(shown.begin(), shown.end());
        QCOMPARE(shown.first(), plan.zeroPts);
        QCOMPARE(shown.last() - shown.first() + 1, qint64(shown.size()));
    }
}

void TestExactCopy::cut_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    // Frames encoded anew reach this PSNR against the source's (0: not measured) with at least
    // the bytes the source spent on them.
    QTest::addColumn<double>("minPsnr");
    QTest::addColumn<int>("maxEncoded"); // frames encoded anew at most (-1: two GOPs)
    QTest::addColumn<QString>("note"); // said after the copy (a pattern; "": nothing asked)
    QTest::addColumn<QString>("startLine"); // said before it (a pattern; "": nothing)
    struct Range
    {
        const char *name;
        double start, end;
    };
    const Range ranges[] = { { "on a key frame", 2.0, 4.0 },
                             { "one after a key frame", 2.04, 5.0 },
                             { "one before a key frame", 1.96, 4.5 },
                             { "mid-interval", 1.3, 6.7 },
                             { "first and last frames", 0.0, 8.0 } };
    for (const char *file : { "h264.mp4", "h264.mkv", "h264.ts", "hevc10.mkv", "hevc10.mp4",
                              "mpeg2.ts", "multi.mkv", "opengop.ts" }) {
        for (const Range &r : ranges)
            QTest::addRow("%s, %s", file, r.name)
                << QString::fromLatin1(file) << r.start << r.end << 0.0 << -1 << ""
                << "";
    }
    for (const char *file : { "long.mkv", "long.ts" })
        QTest::addRow("%s, long range", file)
            << QString::fromLatin1(file) << 1.3 << 44.3 << 0.0 << -1 << ""
            << "";

    // An end at or past the end of the file takes the range to its last frame, whatever
    // duration the container declares (an MPEG-TS's may end where its last frame starts).
    QTest::newRow("h264.ts, to the end") << "h264.ts" << 6.43 << 20.0 << 0.0 << -1 << ""
                                         << "";

    // Grainy sources of the encoders' own GOPs. The last frames come from x265's tail at 6.03 s,
    // the copy begins on its open-GOP key frame at 4.52 s (frame 113).
    const QString none;
    QTest::newRow("grainy-hevc.mp4, the last frames re-encoded")
        << "grainy-hevc.mp4" << 4.52 << 6.03 << 40.0 << -1 << none << none;
    QTest::newRow("grainy-hevc.mkv, both edges re-encoded")
        << "grainy-hevc.mkv" << 2.03 << 6.03 << 40.0 << -1 << "level 2 .*level 2\\.1"
        << "re-encodes 2\\.5 s at the start";
    // The source spends more than its level allows (x264 declares the level of the picture
    // size only): the re-encoded frames get what they need, in a higher level.
    for (const char *ext : { "mp4", "ts" }) {
        const QString h264 = QStringLiteral("grainy-h264.%1").arg(QLatin1String(ext));
        QTest::addRow("%s, up to a scene cut", qPrintable(h264))
            << h264 << 4.3 << 6.03 << 40.0 << -1 << "level 1\\.2 .*level 3" << none;
    }
    // No key frame in the range that copied frames can follow: all of it is re-encoded, and the
    // user is told so before and after.
    QTest::newRow("grainy-h264.mkv, within one GOP")
        << "grainy-h264.mkv" << 0.43 << 3.2 << 40.0 << -1 << "Re-encoded 2\\.8 s"
        << "re-encodes 2\\.8 s, the whole range";
    // x264's open GOPs: the copy begins on the first recovery point in the range.
    for (const char *ext : { "mp4", "ts" }) {
        const QString open = QStringLiteral("grainy-opengop.%1").arg(QLatin1String(ext));
        QTest::addRow("%s, to the first recovery point", qPrintable(open))
            << open << 1.43 << 6.03 << 40.0 << 20 << none << none;
    }
    for (const char *file : { "hevc10-empty.mp4", "hevc10-empty.mkv" })
        QTest::addRow("%s, mid-interval", file)
            << QString::fromLatin1(file) << 1.3 << 6.7 << 0.0 << -1 << ""
            << "";
    QTest::newRow("ps-8M.mpg, mid-interval") << "ps-8M.mpg" << 1.84 << 4.43 << 0.0 << -1 << ""
                                             << "";
    // The codecs beside H.264 and HEVC (key frames every second): the frames to the first key
    // frame and after the last copied one re-encoded, the rest copied across the joins.
    const Range shortRanges[] = { { "mid-interval", 0.3, 2.7 } };
    for (const char *file :
         { "vp9.webm", "vp9.mkv", "vp9.mp4", "mpeg4-3s.avi", "mpeg4.mp4", "interlaced.ts",
           "interlaced.mkv", "mpeg2-576i.ts", "av1.webm", "av1.mkv", "av1.mp4" }) {
        for (const Range &r : shortRanges)
            QTest::addRow("%s, %s", file, r.name)
                << QString::fromLatin1(file) << r.start << r.end << 0.0 << 50 << none << none;
    }
    for (const char *file : { "grainy-vp9.webm", "grainy-mpeg4.avi", "grainy-interlaced.ts",
                              "grainy-576i.ts", "grainy-av1.mp4", "grainy-aom.mp4" })
        QTest::addRow("%s, both edges re-encoded", file)
            << QString::fromLatin1(file) << 0.43 << 1.7 << 40.0 << 50 << none << none;
    QTest::newRow("ps-q2.mpg, mid-interval") << "ps-q2.mpg" << 1.84 << 2.9 << 0.0 << -1 << ""
                                             << "";
}

void TestExactCopy::cut()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(double, minPsnr);
    QFETCH(int, maxEncoded);
    QFETCH(QString, note);
    QFETCH(QString, startLine);
    const QString input = source(file);
    const QString output = m_dir.filePath(QStringLiteral("out-") + file);
    QFile::remove(output);
    const QString line = DescribeCopyStart(PredictCopyStart(input, start, true, end));
    QVERIFY2(startLine.isEmpty() ? line.isEmpty() : line.contains(QRegularExpression(startLine)),
             qPrintable(line));
    const Run run = copyRange(input, output, start, end, true);
    QVERIFY2(run.ok, qPrintable(run.message));
    QVERIFY2(note.isEmpty() || run.noteText().contains(QRegularExpression(note)),
             qPrintable(run.noteText()));

    // The frame shown at the start mark (the first at or after it), to the last one that starts
    // before the end.
    const QList<double> times = frameTimes(input);
    int first = -1;
    int last = -1;
    for (int i = 0; i < times.size(); ++i) {
        if (first < 0 && times.at(i) >= start - 1e-6)
            first = i;
        if (times.at(i) < end - 1e-6)
            last = i;
    }
    const QList<int> shown = frameIndexes(output);
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first(), first);
    QCOMPARE(shown.last(), last);
    QCOMPARE(shown.size(), last - first + 1); // each once, in order

    // Between the edges the packets are the source's own, in the source's order.
    const QStringList source = packetHashes(input);
    const QStringList copied = packetHashes(output);
    // The longest run of them that follows the source's order (less the leading pictures of
    // the first key frame: up to three B-frames). MPEG-2's first copied group of pictures is
    // renumbered, and on repetitive pictures a renumbered packet can equal another one of the
    // source: such a packet is no part of the run.
    int matched = 0;
    for (qsizetype from = 0; from < copied.size(); ++from) {
        qsizetype at = source.indexOf(copied.at(from));
        int run = at < 0 ? 0 : 1;
        for (qsizetype k = from + 1; at >= 0 && k < copied.size(); ++k) {
            const qsizetype found = source.indexOf(copied.at(k), at + 1);
            if (found >= 0 && found - at <= 4) {
                at = found;
                ++run;
            }
        }
        matched = std::max(matched, run);
    }
    // The open GOPs of opengop.ts (x264 with two reference frames) cannot be followed by
    // re-encoded frames: its copied frames expect more earlier references than a head can stand
    // in for, so it is re-encoded up to a key frame it can be joined to. The grainy-opengop rows
    // (x264's defaults) check copies that begin on a recovery point.
    QVERIFY2(matched >= shown.size() - (maxEncoded >= 0 ? maxEncoded : 2 * kGop)
                 || file.startsWith(QLatin1String("opengop")),
             qPrintable(QStringLiteral("%1 of %2 packets copied").arg(matched).arg(shown.size())));
    if (minPsnr > 0) {
        const QJsonObject o = probeJson(
            input, { "-select_streams", "v:0", "-show_entries", "stream=width,height" });
        const QJsonObject st = o.value("streams").toArray().first().toObject();
        const EditQuality q = editQuality(
            input, output, shown, QSize(st.value("width").toInt(), st.value("height").toInt()));
        QVERIFY(q.encoded > 0);
        QVERIFY2(q.minPsnr >= minPsnr && q.bytesRatio >= 1.0,
                 qPrintable(QStringLiteral("%1 frames re-encoded: %2 dB at least, %3 times the "
                                           "source's bytes")
                                .arg(q.encoded)
                                .arg(q.minPsnr, 0, 'f', 2)
                                .arg(q.bytesRatio, 0, 'f', 2)));
    }

    // Every stream is there, with its language; chapters cut to the range.
    int sourceChapters = 0;
    int outputChapters = 0;
    const QList<Stream> in = streams(input, &sourceChapters);
    const QList<Stream> out = streams(output, &outputChapters);
    QCOMPARE(out.size(), in.size());
    for (int i = 0; i < in.size(); ++i) {
        QCOMPARE(out.at(i).type, in.at(i).type);
        QCOMPARE(out.at(i).codec, in.at(i).codec);
        QCOMPARE(out.at(i).language, in.at(i).language);
    }
    // The sample entry stays the source's: "hvc1" (every parameter set in the decoder
    // configuration, as Apple's players require) with re-encoded frames too.
    if (out.first().codec == QLatin1String("hevc") && output.endsWith(QLatin1String(".mp4")))
        QCOMPARE(out.first().tag, in.first().tag);
    if (sourceChapters > 0)
        QCOMPARE(outputChapters, (start < 4.0 ? 1 : 0) + (end > 4.0 ? 1 : 0));

    // Audio begins at the audio frame boundary nearest the start mark (the video begins with
    // the frame shown there, up to a frame later): the two stay within one audio frame of
    // where the source has them (MP4 cannot begin the audio before the picture).
    const auto [video, audio] = firstTimes(output);
    if (audio >= 0 && start > 0) {
        const double expected = start - times.at(first);
        QVERIFY2(std::abs(audio - video - expected) <= 1152.0 / 44100 + 2e-3,
                 qPrintable(QStringLiteral("video %1, audio %2, expected offset %3")
                                .arg(video)
                                .arg(audio)
                                .arg(expected)));
    }

    // The frames of an interlaced source, re-encoded ones too, are interlaced with its field
    // order.
    const QSet<QString> sourceFields = fieldFlags(input, 5);
    if (std::all_of(sourceFields.begin(), sourceFields.end(),
                    [](const QString &f) { return f.startsWith(QLatin1String("1,")); }))
        QCOMPARE(fieldFlags(output), sourceFields);

    // AV1 decoders (dav1d, ffmpeg's first, and libaom) read the joins alike. The new frames
    // carry the source's sequence header, libaom's (real time) or SVT-AV1's (low delay)
    // sources alike: the output holds one.
    if (out.first().codec == QLatin1String("av1")) {
        QVERIFY(rawFrames(output, {}, QStringLiteral("libaom-av1")) == rawFrames(output));
        QVERIFY2(!run.noteText().contains(QLatin1String("sequence header of their own")),
                 qPrintable(run.noteText()));
        QCOMPARE(distinctAv1Headers(output), 1);
    }

    QString errors;
    if (!decodesCleanly(output, &errors) && file.endsWith(QLatin1String(".mpg"))) {
        // ffmpeg's MPEG-PS reader gives an audio frame that straddles two PES packets the time
        // of the frame after it (in the source as well): the repeated time it then hands the
        // null muxer is no fault of the file.
        static const QRegularExpression repeated(
            QStringLiteral("^\\[null @ \\w+\\] Application provided invalid, non monotonically "
                           "increasing dts to muxer in stream 1: (\\d+) >= \\1$"));
        QStringList lines = errors.split(QLatin1Char('\n'));
        lines.removeIf([](const QString &l) { return repeated.match(l).hasMatch(); });
        errors = lines.join(QLatin1Char('\n')).trimmed();
    }
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void TestExactCopy::keyFrameCopy_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<int>("first"); // the key frame the copy starts on
    // With an exact cut asked for, why it is not one (a pattern); "": a key-frame copy asked.
    QTest::addColumn<QString>("refusal");
    const QString none;
    QTest::newRow("IDR") << "h264.mkv" << 3.0 << 5.0 << kGop << none;
    // A recovery point in MPEG-TS: the stream carries the parameter sets only at the IDR.
    QTest::newRow("recovery point, parameter sets in the stream")
        << "opengop.ts" << 3.0 << 5.0 << kGop << none;
    QTest::newRow("long range") << "long.ts" << 1.3 << 44.3 << 0 << none;
    QTest::newRow("MPEG-4 part 2 in AVI") << "mpeg4.avi" << 3.03 << 7.03 << 66 << none;
    QTest::newRow("packed B-frames in AVI") << "xvid.avi" << 3.03 << 7.03 << 64 << none;
    QTest::newRow("interlaced H.264 in MPEG-TS") << "interlaced.ts" << 2.72 << 3.63 << 64 << none;
    QTest::newRow("packed B-frames, exact asked")
        << "xvid.avi" << 3.03 << 7.03 << 64 << "B-frames are packed \\(DivX style\\)";
    QTest::newRow("AV1") << "av1.mkv" << 1.3 << 2.5 << 25 << none;
}

void TestExactCopy::keyFrameCopy()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    QFETCH(int, first);
    QFETCH(QString, refusal);
    const bool exact = !refusal.isEmpty();
    const QString output = m_dir.filePath(QLatin1String(exact ? "refused-" : "keyframe-") + file);
    const QList<double> times = frameTimes(source(file));
    // Told before the copy: where it really starts (and why, where an exact cut was asked).
    const QString line = DescribeCopyStart(PredictCopyStart(source(file), start, exact, end));
    QVERIFY2(line.contains(FormatTimeCode(times.at(first))), qPrintable(line));
    QVERIFY2(!exact || line.contains(QRegularExpression(refusal)), qPrintable(line));
    const Run run = copyRange(source(file), output, start, end, exact);
    QVERIFY2(run.ok, qPrintable(run.message));
    QVERIFY2(!exact || run.noteText().contains(QRegularExpression(refusal)),
             qPrintable(run.noteText()));
    const QList<int> shown = frameIndexes(output);
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.first(), first);
    for (int i = 1; i < shown.size(); ++i)
        QCOMPARE(shown.at(i), shown.at(i - 1) + 1); // none missing
    // It ends before the end mark: with the last frame that starts before it, or a few frames
    // earlier when those need a frame shown after it.
    int last = -1;
    for (int i = 0; i < times.size(); ++i) {
        if (times.at(i) < end - 1e-6)
            last = i;
    }
    QVERIFY2(shown.last() <= last && shown.last() >= last - 3,
             qPrintable(QStringLiteral("ends with %1; %2 is the last before the end")
                            .arg(shown.last())
                            .arg(last)));
    QCOMPARE(packetHashes(output).size(), shown.size()); // and none copied but not shown
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
}

void TestExactCopy::damagedSource_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("start");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QString>("message");
    // The first half of a Matroska file: its header still promises 8 s.
    QFile whole(source("h264.mkv"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QFile half(source("half.mkv"));
    QVERIFY(half.open(QIODevice::WriteOnly));
    half.write(whole.read(whole.size() / 2));
    half.close();
    // MPEG-TS without the IDR at 2 s: the frames after it refer to a picture that is not there.
    const QJsonObject o
        = probeJson(source("h264.ts"),
                    { "-select_streams", "v:0", "-show_entries", "packet=pos,flags:stream=id" });
    QList<qint64> keys;
    for (const auto &p : o.value("packets").toArray()) {
        if (p.toObject().value("flags").toString().startsWith('K'))
            keys << p.toObject().value("pos").toString().toLongLong();
    }
    QVERIFY(keys.size() >= 2);
    const int pid
        = o.value("streams").toArray().first().toObject().value("id").toString().toInt(nullptr, 16);
    QFile ts(source("h264.ts"));
    QVERIFY(ts.open(QIODevice::ReadOnly));
    const QByteArray bytes = ts.readAll();
    QByteArray kept;
    bool dropping = false;
    for (qsizetype at = 0; at + 188 <= bytes.size(); at += 188) {
        const int packetPid = ((uchar(bytes.at(at + 1)) & 0x1f) << 8) | uchar(bytes.at(at + 2));
        const bool unitStart = uchar(bytes.at(at + 1)) & 0x40;
        if (packetPid == pid && (at == keys.at(1) || (dropping && unitStart)))
            dropping = at == keys.at(1);
        if (!(dropping && packetPid == pid))
            kept += bytes.mid(at, 188);
    }
    QFile damaged(source("nokey.ts"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(kept);
    damaged.close();

    QTest::newRow("cut short") << "half.mkv" << 1.3 << true << "the file is incomplete or damaged";
    QTest::newRow("key frame missing") << "nokey.ts" << 2.5 << true << "the video is damaged at";
    // Decoder configurations without the parameter sets that every picture needs: no copy of
    // these plays, whether it is cut to the frame or not.
    QVERIFY(patchConfig(source("h264.mp4"), source("nopps.mp4"), withoutPps));
    QVERIFY(patchConfig(source("hevc10.mp4"), source("nosps.mp4"),
                        [](const QByteArray &c) { return withoutHevcType(c, 33); }));
    for (const bool exact : { true, false }) {
        const char *mode = exact ? "exact" : "key frame";
        QTest::addRow("avcC without PPS, %s", mode)
            << "nopps.mp4" << 1.3 << exact << "(avcC) holds no picture parameter set (PPS)";
        QTest::addRow("hvcC without SPS, %s", mode)
            << "nosps.mp4" << 1.3 << exact << "(hvcC) holds no sequence parameter set (SPS)";
    }
}

void TestExactCopy::damagedSource()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(bool, exact);
    QFETCH(QString, message);
    const QString folder = m_dir.filePath(QStringLiteral("damaged-") + QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const Run run = copyRange(source(file), folder + QLatin1Char('/') + file, start, 6.7, exact);
    QVERIFY(!run.ok);
    QVERIFY2(run.message.contains(message), qPrintable(run.message));
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty()); // nothing left
}

void TestExactCopy::audioOnly_data()
{
    QTest::addColumn<QStringList>("codec");
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    const QStringList mp3 { "-c:a", "libmp3lame", "-b:a", "128k" };
    // The source's last packet trims the encoder's padding.
    QTest::newRow("MP3 to past its end") << mp3 << "tone.mp3" << 3.3 << 8.5;
    // FLAC frames carry their number in the stream.
    QTest::newRow("FLAC") << QStringList { "-c:a", "flac" } << "tone.flac" << 3.3 << 6.0;
}

void TestExactCopy::audioOnly()
{
    QFETCH(QStringList, codec);
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    const QString input = source(file);
    if (!QFile::exists(input))
        QVERIFY(ffmpeg(QStringList { "-f", "lavfi", "-i", "sine=sample_rate=48000:duration=8" }
                       + codec + QStringList { input }));
    const QString output
        = m_dir.filePath(QStringLiteral("%1-%2").arg(QTest::currentDataTag(), file));
    const Run run = copyRange(input, output, start, end, true);
    QVERIFY2(run.ok, qPrintable(run.message));

    // The audio starts with the output (up to the decoder's own delay, less than a frame) and
    // runs to the end of the range, or of the source, without a gap.
    const QJsonArray packets
        = probeJson(output, { "-show_entries", "packet=pts_time,duration_time:stream=start_time" })
              .value("packets")
              .toArray();
    QVERIFY(packets.size() > 10);
    auto time = [&](int i, const char *key) {
        return packets.at(i).toObject().value(key).toString().toDouble();
    };
    const double frame = time(0, "duration_time");
    const double first = probeJson(output, { "-show_entries", "stream=start_time" })
                             .value("streams")
                             .toArray()
                             .first()
                             .toObject()
                             .value("start_time")
                             .toString()
                             .toDouble();
    QVERIFY2(first >= 0 && first < frame, qPrintable(QString::number(first)));
    for (int i = 1; i < packets.size(); ++i)
        QVERIFY2(
            std::abs(time(i, "pts_time") - time(i - 1, "pts_time") - time(i - 1, "duration_time"))
                < 1e-3,
            qPrintable(QStringLiteral("packet %1 at %2").arg(i).arg(time(i, "pts_time"))));
    const double length = time(int(packets.size()) - 1, "pts_time")
        + time(int(packets.size()) - 1, "duration_time") - time(0, "pts_time");
    const double sourceLength = probeJson(input, { "-show_entries", "format=duration" })
                                    .value("format")
                                    .toObject()
                                    .value("duration")
                                    .toString()
                                    .toDouble();
    QVERIFY2(std::abs(length - (std::min(end, sourceLength) - start)) < 2 * frame,
             qPrintable(QString::number(length)));
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
}

void TestExactCopy::metadata_data()
{
    QTest::addColumn<QStringList>("remux"); // what ffmpeg adds to a copy of h264.mp4
    QTest::addColumn<QStringList>("tags"); // the file's tags the cut keeps
    QTest::addColumn<int>("chapters");
    // A phone's make and model, in the "keys" box of its MP4.
    QTest::newRow("phone keys") << QStringList { "-metadata", "com.apple.quicktime.make=Apple",
                                                 "-metadata", "com.apple.quicktime.model=iPhone 12",
                                                 "-movflags", "+use_metadata_tags" }
                                << QStringList { "com.apple.quicktime.make=Apple",
                                                 "com.apple.quicktime.model=iPhone 12" }
                                << 0;
    // MP4 chapters, which the demuxer also shows as a stream of their titles.
    QTest::newRow("chapters") << QStringList { "-i", source("chapters.txt"), "-map_chapters", "1" }
                              << QStringList {} << 2;
}

void TestExactCopy::metadata()
{
    QFETCH(QStringList, remux);
    QFETCH(QStringList, tags);
    QFETCH(int, chapters);
    const QString input
        = m_dir.filePath(QStringLiteral("tags-%1.mp4").arg(QTest::currentDataTag()));
    QVERIFY(ffmpeg(QStringList { "-i", source("h264.mp4") } + remux
                   + QStringList { "-map", "0", "-c", "copy", input }));
    const QString output
        = m_dir.filePath(QStringLiteral("tags-out-%1.mp4").arg(QTest::currentDataTag()));
    const Run run = copyRange(input, output, 1.3, 6.7, true);
    QVERIFY2(run.ok, qPrintable(run.message));
    QVERIFY2(
        std::none_of(run.notes.cbegin(), run.notes.cend(),
                     [](const CopyNote &n) { return n.kind == CopyNote::Kind::StreamLeftOut; }),
        qPrintable(run.noteText()));
    int outputChapters = 0;
    streams(output, &outputChapters);
    QCOMPARE(outputChapters, chapters);
    const QJsonObject found = probeJson(output, { "-show_entries", "format_tags" })
                                  .value("format")
                                  .toObject()
                                  .value("tags")
                                  .toObject();
    for (const QString &tag : tags)
        QCOMPARE(found.value(tag.section('=', 0, 0)).toString(), tag.section('=', 1));
}

void TestExactCopy::rewrite_data()
{
    QTest::addColumn<QString>("file");
    for (const char *file : { "h264.mkv", "baseline.mp4", "grainy-h264.ts", "opengop.ts",
                              "grainy-opengop.mp4", "hevc10.mkv", "grainy-hevc.mp4" })
        QTest::newRow(file) << QString::fromLatin1(file);
}

// Rewriting a unit under other ids (or, for a slice, with its own numbering) and back gives it
// bit for bit; every slice header reads to its reference marking.
void TestExactCopy::rewrite()
{
    QFETCH(QString, file);
    const bool hevc = streams(source(file)).first().codec == QLatin1String("hevc");
    QByteArray annexB;
    QVERIFY(run("ffmpeg",
                { "-nostdin", "-v", "error", "-i", source(file), "-map", "0:v:0", "-c", "copy",
                  "-bsf:v", hevc ? "hevc_mp4toannexb" : "h264_mp4toannexb", "-frames:v", "80", "-f",
                  hevc ? "hevc" : "h264", "-" },
                &annexB)
            == 0);
    const QList<QByteArray> units = NalUnits::split(annexB, 0);
    QList<NalRewrite::H264Sps> spss;
    QList<NalRewrite::H264Pps> ppss;
    int rewritten = 0;
    for (const QByteArray &u : units) {
        const int type = hevc ? NalUnits::hevcType(u) : NalUnits::h264Type(u);
        if (hevc && type >= NalUnits::HevcVps && type <= NalUnits::HevcPps) {
            const int id = NalRewrite::hevcParameterSetId(u);
            const auto rename = [&](int to, int refers) {
                return type == NalUnits::HevcVps ? NalRewrite::renameHevcVps(u, to)
                    : type == NalUnits::HevcSps  ? NalRewrite::renameHevcSps(u, to, refers)
                                                 : NalRewrite::renameHevcPps(u, to, refers);
            };
            const QByteArray renamed = rename(13, 11);
            QCOMPARE(NalRewrite::hevcParameterSetId(renamed), 13);
            QCOMPARE(type == NalUnits::HevcVps       ? NalRewrite::renameHevcVps(renamed, id)
                         : type == NalUnits::HevcSps ? NalRewrite::renameHevcSps(renamed, id, 0)
                                                     : NalRewrite::renameHevcPps(renamed, id, 0),
                     u);
            ++rewritten;
        } else if (hevc && type >= 0 && type <= 31) {
            const int id = NalRewrite::hevcPpsIdOfSlice(u);
            const int to = NalRewrite::hevcSliceIdsFor(id).first();
            const QByteArray renamed = NalRewrite::renameHevcSlice(u, to);
            QCOMPARE(NalRewrite::hevcPpsIdOfSlice(renamed), to);
            QCOMPARE(NalRewrite::renameHevcSlice(renamed, id), u);
            ++rewritten;
        } else if (!hevc && type == NalUnits::H264Sps) {
            spss << NalRewrite::parseH264Sps(u);
            QVERIFY(spss.last().ok);
            const QByteArray raised = NalRewrite::withH264Level(u, 51);
            QCOMPARE(NalRewrite::parseH264Sps(raised).level, 51);
            QCOMPARE(NalRewrite::withH264Level(raised, spss.last().level), u);
            ++rewritten;
        } else if (!hevc && type == NalUnits::H264Pps) {
            ppss << NalRewrite::parseH264Pps(u);
            QVERIFY(ppss.last().ok);
            const QByteArray renamed = NalRewrite::renameH264Pps(u, 200, 17);
            QCOMPARE(NalRewrite::parseH264Pps(renamed).id, 200);
            QCOMPARE(NalRewrite::parseH264Pps(renamed).spsId, 17);
            QCOMPARE(NalRewrite::renameH264Pps(renamed, ppss.last().id, ppss.last().spsId), u);
            ++rewritten;
        } else if (!hevc && (type == 1 || type == NalUnits::H264Idr)) {
            const NalRewrite::H264Slice slice = NalRewrite::readH264Slice(u, spss, ppss);
            const NalRewrite::H264Marking marking = NalRewrite::readH264Marking(u, spss, ppss);
            QVERIFY(slice.ok && marking.ok);
            QCOMPARE(marking.frameNum, slice.frameNum);
            // A non-IDR I or P slice written again with its own numbering is itself.
            const NalRewrite::H264Pps &pps = ppss.last();
            const NalRewrite::H264Sps &sps = spss.last();
            if (type == 1
                && (slice.sliceType == 2 || (slice.sliceType == 0 && !pps.weightedPred))) {
                QCOMPARE(NalRewrite::rewriteH264Slice(u, sps, pps, sps, pps.id, slice.frameNum,
                                                      slice.pocLsb),
                         u);
                ++rewritten;
            }
        }
    }
    QVERIFY(rewritten > 0);
}

QTEST_GUILESS_MAIN(TestExactCopy)
#include "tst_exactcopy.moc"
