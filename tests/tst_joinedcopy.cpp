// Exact copies that join several ranges of one source: on frame-indexed H.264 (B-frames,
// closed GOPs every 3 s) in MP4, Matroska and MPEG-TS, on HEVC, and on MPEG-2 (open GOPs) in
// MPEG-TS and MPEG-PS, with marks between key frames, on key frames and at the file's ends,
// the saved frames are exactly the ranges' frames in list order, the file decodes without an
// error, its sound lasts as long as its picture within an audio frame, and MPEG-2's groups of
// pictures stay numbered and closed as their pictures need, their time codes running on across
// every join.

#include "avlogging.h"
#include "indexedmedia.h"
#include "joinedranges.h"
#include "streamcopy.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using Ranges = QList<std::pair<double, double>>;

// A frame-indexed source (see IndexedMedia) made with other encoder settings.
QString makeWith(const QDir &dir, const QString &name, const QStringList &video)
{
    const QString path = dir.filePath(name);
    const QString paint
        = QStringLiteral("geq=lum='(floor(mod(N/pow(16,2-floor(X/64)),16))*16+8)':cb=128:cr=128");
    QStringList args {
        "-f", "lavfi",
        "-i", QStringLiteral("color=black:s=192x64:r=25:d=10,format=yuv420p,%1").arg(paint),
        "-f", "lavfi",
        "-i", "sine=frequency=440:sample_rate=48000:duration=10"
    };
    args << QStringList { "-c:a", "aac" } << video << QStringList { "-shortest", path };
    return MediaFixtures::ffmpeg(args) ? path : QString();
}

// The sources by name: s.* is IndexedMedia's H.264; h.* HEVC; o.* H.264 with open GOPs and
// x264's scene cuts; m.* MPEG-2.
QString makeSource(const QDir &dir, const QString &name)
{
    if (name.startsWith(QLatin1Char('s')))
        return IndexedMedia::make(dir, name);
    if (name.startsWith(QLatin1Char('h')))
        return makeWith(dir, name,
                        { "-c:v", "libx265", "-preset", "fast", "-crf", "12", "-x265-params",
                          "keyint=75:min-keyint=75:bframes=3:log-level=error" });
    if (name.startsWith(QLatin1Char('o')))
        return makeWith(
            dir, name, { "-c:v", "libx264", "-crf", "12", "-x264-params", "open-gop=1:keyint=75" });
    return makeWith(dir, name,
                    { "-c:v", "mpeg2video", "-q:v", "2", "-g", "15", "-bf", "2", "-c:a", "mp2" });
}

// The MPEG-2 groups of pictures of a file: in each, the pictures number 0 to n-1 in display
// order, a group is closed exactly where no B picture is shown before its I picture (the
// sources' encoder closes no other; a leading B picture needs the group before), and its time
// code (25 pictures a second) is where its first picture is shown: the pictures before it.
bool groupsConsistent(const QString &path, QString *errors)
{
    const QString raw = path + QStringLiteral(".m2v");
    if (!MediaFixtures::ffmpeg(
            { "-i", path, "-map", "0:v", "-c", "copy", "-f", "mpeg2video", raw }))
        return false;
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    struct Group
    {
        qsizetype at = 0;
        bool closed = false;
        int timeCode = 0; // in pictures
        int before = 0; // pictures before the group
        QList<int> refs; // temporal_reference, in decoding order
    };
    QList<Group> groups;
    int pictures = 0;
    const QByteArray prefix("\0\0\1", 3);
    for (qsizetype i = data.indexOf(prefix); i >= 0 && i + 6 < data.size();
         i = data.indexOf(prefix, i + 3)) {
        const uchar code = uchar(data.at(i + 3));
        if (code == 0xb8 && i + 7 < data.size()) {
            // hours (5 bits), minutes (6), marker, seconds (6), pictures (6) after the drop flag
            quint32 w = 0;
            for (int k = 4; k < 8; ++k)
                w = (w << 8) | uchar(data.at(i + k));
            const int seconds
                = int((w >> 26) & 31) * 3600 + int((w >> 20) & 63) * 60 + int((w >> 13) & 63);
            groups << Group { i, bool(w & 0x40), seconds * 25 + int((w >> 7) & 63), pictures, {} };
        } else if (code == 0x00) {
            ++pictures;
            if (!groups.isEmpty())
                groups.last().refs << ((uchar(data.at(i + 4)) << 2) | (uchar(data.at(i + 5)) >> 6));
        }
    }
    for (const Group &g : std::as_const(groups)) {
        QList<int> sorted = g.refs;
        std::sort(sorted.begin(), sorted.end());
        bool numbered = !sorted.isEmpty();
        for (qsizetype k = 0; k < sorted.size(); ++k)
            numbered = numbered && sorted.at(k) == k;
        const bool leading = !g.refs.isEmpty() && g.refs.first() > 0;
        if (!numbered || g.closed == leading || g.timeCode != g.before) {
            *errors = QStringLiteral("group at byte %1: %2, pictures %3, time code %4 after %5 "
                                     "pictures")
                          .arg(g.at)
                          .arg(g.closed ? QStringLiteral("closed") : QStringLiteral("open"))
                          .arg(QDebug::toString(g.refs))
                          .arg(g.timeCode)
                          .arg(g.before);
            return false;
        }
    }
    return !groups.isEmpty();
}

} // namespace

class TestJoinedCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QuietLibavLogging(); }

    void joined_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Ranges>("ranges");
        for (const char *name :
             { "s.mp4", "s.mkv", "s.ts", "h.mkv", "h.mp4", "h.ts", "o.mp4", "m.ts", "m.mpg" }) {
            QTest::addRow("%s, two between key frames", name)
                << name << Ranges { { 1.3, 2.1 }, { 4.5, 5.02 } };
            QTest::addRow("%s, three, one on a key frame", name)
                << name << Ranges { { 0.5, 1.7 }, { 3.0, 4.1 }, { 6.6, 8.9 } };
            QTest::addRow("%s, five, the ends of the file", name)
                << name
                << Ranges { { 0, 0.6 }, { 1.1, 1.5 }, { 2.9, 3.3 }, { 5.5, 6.1 }, { 9.2, 10 } };
        }
    }

    void joined()
    {
        QFETCH(QString, name);
        QFETCH(Ranges, ranges);
        QTemporaryDir dir;
        const QString source = makeSource(QDir(dir.path()), name);
        QVERIFY(!source.isEmpty());
        const double offset = IndexedMedia::videoOffset(source);
        StreamCopyJob job;
        job.inputPath = source;
        job.outputPath = dir.filePath(QStringLiteral("joined.") + QFileInfo(name).suffix());
        QList<int> expected;
        for (const auto &[from, to] : ranges) {
            job.ranges << CopyRange { from, to - from, QString() };
            const int last = std::min(IndexedMedia::lastFrameBefore(to, offset), 249);
            for (int i = std::max(0, IndexedMedia::firstFrameAt(from, offset)); i <= last; ++i)
                expected << i;
        }
        StreamCopy copy(job);
        const std::atomic<bool> cancel { false };
        double reached = 0;
        const Outcome done
            = copy.run(cancel, [&](qint64, double f) { reached = std::max(reached, f); });
        QVERIFY2(done, qPrintable(done.error().sentence));
        QCOMPARE(reached, 1.0);
        const QList<int> got = IndexedMedia::frameIndexes(job.outputPath);
        if (got != expected)
            qWarning() << "got" << got << "\nexpected" << expected;
        QCOMPARE(got, expected);
        QString errors;
        QVERIFY2(MediaFixtures::decodesCleanly(job.outputPath, &errors), qPrintable(errors));
        const double video = MediaFixtures::streamEnd(job.outputPath, "v:0", true);
        const double audio = MediaFixtures::streamEnd(job.outputPath, "a:0", true);
        QVERIFY2(qAbs(video - audio) <= 1024.0 / 48000 + 1e-3,
                 qPrintable(QStringLiteral("video %1 s, audio %2 s").arg(video).arg(audio)));
        if (name.startsWith(QLatin1Char('m')))
            QVERIFY2(groupsConsistent(job.outputPath, &errors), qPrintable(errors));
    }

    // A key-frame copy of a list saves exactly the ranges KeyFrameRanges reports: each from
    // its key frame to its last kept frame, joined in order, on closed and open GOPs, HEVC and
    // MPEG-2, with marks between key frames and past the file's end.
    void keyFrameRanges_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Ranges>("ranges");
        for (const char *name : { "s.mp4", "s.mkv", "s.ts", "o.mp4", "h.mkv", "m.ts", "m.mpg" }) {
            QTest::addRow("%s, three between key frames", name)
                << name << Ranges { { 1.3, 2.1 }, { 4.5, 5.02 }, { 6.6, 8.9 } };
            QTest::addRow("%s, reordered, to the end", name)
                << name << Ranges { { 7.1, 12 }, { 0.5, 1.7 } };
        }
    }

    void keyFrameRanges()
    {
        QFETCH(QString, name);
        QFETCH(Ranges, ranges);
        QTemporaryDir dir;
        const QString source = makeSource(QDir(dir.path()), name);
        QVERIFY(!source.isEmpty());
        const double offset = IndexedMedia::videoOffset(source);
        QList<CutSpan> asked;
        for (const auto &[from, to] : ranges)
            asked << CutSpan { from, to, QString() };
        const Result<QList<CutSpan>> planned = KeyFrameRanges(source, asked);
        QVERIFY2(planned, qPrintable(planned.error().sentence));
        const QList<CutSpan> &saved = planned.value();
        QCOMPARE(saved.size(), asked.size());
        StreamCopyJob job;
        job.inputPath = source;
        job.outputPath = dir.filePath(QStringLiteral("joined.") + QFileInfo(name).suffix());
        job.exact = false;
        QList<int> expected;
        for (qsizetype k = 0; k < asked.size(); ++k) {
            job.ranges << CopyRange { asked.at(k).startSeconds, asked.at(k).lengthSeconds(),
                                      QString() };
            // A key frame at or before the start's frame; the end within a frame of the mark.
            const double frame = 1.0 / IndexedMedia::kRate;
            QVERIFY2(saved.at(k).startSeconds < asked.at(k).startSeconds + frame
                         && saved.at(k).endSeconds < asked.at(k).endSeconds + frame,
                     qPrintable(QStringLiteral("%1 to %2 saved as %3 to %4")
                                    .arg(asked.at(k).startSeconds)
                                    .arg(asked.at(k).endSeconds)
                                    .arg(saved.at(k).startSeconds)
                                    .arg(saved.at(k).endSeconds)));
            const int last
                = std::min(IndexedMedia::lastFrameBefore(saved.at(k).endSeconds, offset), 249);
            for (int i = std::max(0, IndexedMedia::firstFrameAt(saved.at(k).startSeconds, offset));
                 i <= last; ++i)
                expected << i;
        }
        StreamCopy copy(job);
        const std::atomic<bool> cancel { false };
        const Outcome done = copy.run(cancel, {});
        QVERIFY2(done, qPrintable(done.error().sentence));
        const QList<int> got = IndexedMedia::frameIndexes(job.outputPath);
        if (got != expected)
            qWarning() << "got" << got << "\nexpected" << expected;
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestJoinedCopy)
#include "tst_joinedcopy.moc"
