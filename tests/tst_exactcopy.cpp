#include "cutplanner.h"
#include "ffmpegencoder.h"
#include "mediafixtures.h"
#include "timecode.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

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

// Presentation times (seconds from the file's start) of the video frames, in display order.
QList<double> frameTimes(const QString &path)
{
    const QJsonObject o = probeJson(
        path, { "-select_streams", "v:0", "-show_entries", "packet=pts_time:format=start_time" });
    const double start = o.value("format").toObject().value("start_time").toString().toDouble();
    QList<double> times;
    for (const auto &p : o.value("packets").toArray())
        times << p.toObject().value("pts_time").toString().toDouble() - start;
    std::sort(times.begin(), times.end());
    return times;
}

// The index painted into each decoded frame.
QList<int> frameIndexes(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            { "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough",
              "-vf", QStringLiteral("scale=%1:%2").arg(kW).arg(kH), "-pix_fmt", "yuv420p", "-f",
              "rawvideo", "-" });
    p.waitForFinished(120000);
    const QByteArray raw = p.readAllStandardOutput();
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

// Hashes of the video packets as stored, in decoding order.
QStringList packetHashes(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            { "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f",
              "framemd5", "-" });
    p.waitForFinished(60000);
    QStringList hashes;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        // stream, dts, pts, duration, size, hash, and the side data, if any
        if (!line.startsWith('#') && line.count(',') >= 5)
            hashes << QString::fromLatin1(line.split(',').at(5).trimmed());
    }
    return hashes;
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
    QStringList notes;
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
                         run = { ok, message, {} };
                         finished = true;
                     });
    encoder.startEncoding(1);
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
    // MPEG-PS with AC-3, whose frames straddle the PES packets, on detailed content: at 8 Mb/s,
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
        QVERIFY(
            ffmpeg(QStringList {
                       "-f", "lavfi", "-i",
                       paint(ps.seconds)
                           + QStringLiteral(",scale=720:576,noise=alls=%1:allf=t+u").arg(ps.noise),
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
    // The key-frame copy runs to the last packet shown before the end, and on to the B-frames
    // shown before a reference it copied (B6 before P7): no frame is missing before the last.
    QTest::newRow("key-frame copy ends without a missing frame")
        << closed << closedKinds << false << qint64(1) << qint64(6) << 0 << 8 << 0 << -1;
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
            QTest::addRow("%s, %s", file, r.name) << QString::fromLatin1(file) << r.start << r.end;
    }
    for (const char *file : { "long.mkv", "long.ts" })
        QTest::addRow("%s, long range", file) << QString::fromLatin1(file) << 1.3 << 44.3;
    for (const char *file : { "hevc10-empty.mp4", "hevc10-empty.mkv" })
        QTest::addRow("%s, mid-interval", file) << QString::fromLatin1(file) << 1.3 << 6.7;
    QTest::newRow("ps-8M.mpg, mid-interval") << "ps-8M.mpg" << 1.84 << 4.43;
    QTest::newRow("ps-q2.mpg, mid-interval") << "ps-q2.mpg" << 1.84 << 2.9;
}

void TestExactCopy::cut()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    const QString input = source(file);
    const QString output = m_dir.filePath(QStringLiteral("out-") + file);
    QFile::remove(output);
    const Run run = copyRange(input, output, start, end, true);
    QVERIFY2(run.ok, qPrintable(run.message));

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
    int matched = 0;
    qsizetype at = -1;
    for (const QString &h : copied) {
        const qsizetype found = source.indexOf(h, at + 1);
        if (found < 0)
            continue;
        QVERIFY2(matched == 0 || found - at <= 3, "copied packets are not one run of the source's");
        at = found;
        ++matched;
    }
    // An open-GOP H.264 stream has no IDR after its first frame, and only an IDR can follow
    // re-encoded frames: everything after the start is re-encoded.
    QVERIFY2(matched >= shown.size() - 2 * kGop || file.startsWith(QLatin1String("opengop")),
             qPrintable(QStringLiteral("%1 of %2 packets copied").arg(matched).arg(shown.size())));

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
    // HEVC frames re-encoded before copied ones bring their own parameter sets in the stream,
    // which "hev1" allows.
    if (out.first().codec == QLatin1String("hevc") && output.endsWith(QLatin1String(".mp4")))
        QCOMPARE(out.first().tag,
                 matched < copied.size() ? QStringLiteral("hev1") : in.first().tag);
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
    QTest::newRow("IDR") << "h264.mkv" << 3.0 << 5.0 << kGop;
    // A recovery point in MPEG-TS: the stream carries the parameter sets only at the IDR.
    QTest::newRow("recovery point, parameter sets in the stream")
        << "opengop.ts" << 3.0 << 5.0 << kGop;
    QTest::newRow("long range") << "long.ts" << 1.3 << 44.3 << 0;
}

void TestExactCopy::keyFrameCopy()
{
    QFETCH(QString, file);
    QFETCH(double, start);
    QFETCH(double, end);
    const QString output = m_dir.filePath(QStringLiteral("keyframe-") + file);
    const Run run = copyRange(source(file), output, start, end, false);
    QVERIFY2(run.ok, qPrintable(run.message));
    const QList<int> shown = frameIndexes(output);
    QVERIFY(!shown.isEmpty());
    QTEST(shown.first(), "first");
    for (int i = 1; i < shown.size(); ++i)
        QCOMPARE(shown.at(i), shown.at(i - 1) + 1); // none missing
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
    QVERIFY2(run.notes.filter(QStringLiteral("Left out")).isEmpty(),
             qPrintable(run.notes.join(' ')));
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

QTEST_GUILESS_MAIN(TestExactCopy)
#include "tst_exactcopy.moc"
