// Several ranges of one source saved by one conversion, joined: on frame-indexed sources in
// MP4, Matroska and MPEG-TS (no seek index: entered early and trimmed in the decoder), the
// saved frames are exactly the frames of each range in list order, the file decodes cleanly
// and its sound lasts as long as its picture within an audio frame.

#include "indexedmedia.h"
#include "rangejoin.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using Ranges = QList<std::pair<double, double>>;

const QString kOptions = QStringLiteral(
    "-vcodec libx264 -vpre libx264-default -vb 2000k -ab 128k -ar 44100 -s 192x64");

} // namespace

class TestRangeJoin : public QObject
{
    Q_OBJECT

private slots:
    void joined_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Ranges>("ranges");
        for (const char *name : { "s.mp4", "s.mkv", "s.ts" }) {
            QTest::addRow("%s, three in order", name)
                << name << Ranges { { 1.3, 2.1 }, { 4.5, 5.0 }, { 7.22, 8.6 } };
            QTest::addRow("%s, two reordered", name)
                << name << Ranges { { 6.0, 7.0 }, { 2.0, 3.0 } };
            QTest::addRow("%s, from the start and to the end", name)
                << name << Ranges { { 0, 0.5 }, { 9.0, 10.0 } };
        }
    }

    void joined()
    {
        QFETCH(QString, name);
        QFETCH(Ranges, ranges);
        QTemporaryDir dir;
        const QString source = IndexedMedia::make(QDir(dir.path()), name);
        QVERIFY(!source.isEmpty());
        const double offset = IndexedMedia::videoOffset(source);
        QByteArray formatName;
        MediaFixtures::run(QStringLiteral("ffprobe"),
                           { "-v", "error", "-show_entries", "format=format_name", "-of",
                             "default=nw=1:nk=1", source },
                           &formatName);
        SourceMedia media;
        media.videoStreams = 1;
        media.audioStreams = 1;
        QList<TranslatedOptions> translated;
        QList<int> expected;
        for (const auto &[from, to] : ranges) {
            const Result<TranslatedOptions> piece = TranslateOptions(
                QStringLiteral("-TimeStart ") + QString::number(from),
                kOptions + QStringLiteral(" -TimeLength ") + QString::number(to - from),
                QStringLiteral("mp4"), QString::fromLatin1(formatName.trimmed()), media);
            QVERIFY2(piece, qPrintable(piece.error().sentence));
            translated << piece.value();
            const int last = std::min(IndexedMedia::lastFrameBefore(to, offset), 249);
            for (int i = std::max(0, IndexedMedia::firstFrameAt(from, offset)); i <= last; ++i)
                expected << i;
        }
        const Result<RangeJoin> joined
            = JoinRanges(QStringLiteral("file:") + source, translated, /*audio=*/true);
        QVERIFY2(joined, qPrintable(joined.error().sentence));
        const RangeJoin &join = joined.value();
        const QString output = dir.filePath(QStringLiteral("joined.mp4"));
        QByteArray log;
        const int code = MediaFixtures::run(
            QStringLiteral("ffmpeg"),
            QStringList { "-nostdin", "-v", "error", "-y" } + join.args << output, &log);
        QVERIFY2(code == 0, log.constData());
        const QList<int> got = IndexedMedia::frameIndexes(output);
        if (got != expected)
            qWarning() << "offset" << offset << "got" << got << "expected" << expected;
        QCOMPARE(got, expected);
        QString errors;
        QVERIFY2(MediaFixtures::decodesCleanly(output, &errors), qPrintable(errors));
        const double video = MediaFixtures::streamEnd(output, "v:0");
        const double audio = MediaFixtures::streamEnd(output, "a:0");
        QVERIFY2(qAbs(video - audio) <= 1024.0 / 44100 + 1e-3,
                 qPrintable(QStringLiteral("video %1 s, audio %2 s").arg(video).arg(audio)));
    }

    void refusals()
    {
        const TranslatedOptions one;
        QCOMPARE(JoinRanges(QStringLiteral("x"), { one }, true).code(), ErrorCode::BadRequest);
        TranslatedOptions copy = one;
        copy.copiesVideo = true;
        QCOMPARE(JoinRanges(QStringLiteral("x"), { one, copy }, true).code(),
                 ErrorCode::NotPossible);
    }
};

QTEST_GUILESS_MAIN(TestRangeJoin)
#include "tst_rangejoin.moc"
