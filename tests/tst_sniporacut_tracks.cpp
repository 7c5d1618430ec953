#include "catalogue.h"
#include "trackmedia.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaFixtures;
using namespace TrackMedia;

// snipora-cut's choice of tracks on a file with four: the listing, and what each way of saving
// keeps of a choice.
class TestSniporaCutTracks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void listStreams();
    void refusedChoices_data();
    void refusedChoices();
    void keepsTheChosenTracks_data();
    void keepsTheChosenTracks();

private:
    struct Result
    {
        int status = -1;
        QString out;
        QString err;
    };
    Result cut(const QStringList &args);

    QTemporaryDir m_dir;
    QString m_program;
    QString m_source;
};

void TestSniporaCutTracks::initTestCase()
{
    m_program = QCoreApplication::applicationDirPath() + QStringLiteral("/snipora-cut");
    QVERIFY(QFileInfo(m_program).isExecutable());
    m_source = makeFourTracks(QDir(m_dir.path()));
    QVERIFY(!m_source.isEmpty());
}

TestSniporaCutTracks::Result TestSniporaCutTracks::cut(const QStringList &args)
{
    Result r;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(m_program, args);
    if (!p.waitForFinished(180000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

void TestSniporaCutTracks::listStreams()
{
    const Result r = cut({ QStringLiteral("--list-streams"), m_source });
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({ "0\tvideo\th264\t\t", "1\taudio\taac\teng\tEnglish",
                           "2\taudio\taac\tdeu\tDeutsch", "3\tsubtitle\tsubrip\teng\t" }));
    const Result missing = cut({ QStringLiteral("--list-streams"), m_dir.filePath("none.mkv") });
    QCOMPARE(missing.status, 2);
    QVERIFY(missing.err.contains(QStringLiteral("none.mkv")));
}

// A choice that names no stream of the file, or leaves nothing to save, is refused before
// anything is written.
void TestSniporaCutTracks::refusedChoices_data()
{
    QTest::addColumn<QString>("streams");
    QTest::addColumn<QStringList>("mode");
    QTest::addColumn<QString>("said");
    const QStringList convert { "--format", "ID_MKV" };
    QTest::newRow("index past the last") << "0,7" << QStringList { "--copy" } << "no stream 7";
    QTest::newRow("not a number") << "0,a" << convert << "not a list of stream indexes";
    QTest::newRow("negative") << "-1" << convert << "not a list of stream indexes";
    QTest::newRow("subtitles alone") << "3" << convert << "video or audio";
    QTest::newRow("subtitles alone, copy") << "3" << QStringList { "--copy" } << "video or audio";
    QTest::newRow("video into an audio format")
        << "0,3" << QStringList { "--format", "ID_MPB" } << "nothing to save";
}

void TestSniporaCutTracks::refusedChoices()
{
    QFETCH(QString, streams);
    QFETCH(QStringList, mode);
    QFETCH(QString, said);
    const QString name = QStringLiteral("refused-%1").arg(QTest::currentDataTag());
    const Result r = cut(QStringList { m_source, "--start", "0.5", "--end", "2", "--streams",
                                       streams, "--name", name }
                         + mode);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(said), qPrintable(r.err));
    QVERIFY(QDir(m_dir.path()).entryList({ name + QLatin1Char('*') }).isEmpty());
}

// Every choice through every way of saving: a copy (exact or from a key frame) and the
// containers that hold several tracks keep exactly the chosen ones, a format of one audio track
// the first chosen (with a note), an audio format the audio only; subtitles where the container
// takes them. The conversions are one catalogue entry of each kind of container.
void TestSniporaCutTracks::keepsTheChosenTracks_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QString>("note");
    // Nothing is said of a video left out (where a copy starts, its level, its re-encoding).
    QTest::addColumn<bool>("videoLeftOut");

    struct Way
    {
        const char *name;
        QStringList args;
        bool several; // audio (and video) tracks
        bool video;
        bool subtitles;
        const char *oneTrackName; // as the note names the format
    };
    const auto entry = [](const char *key) {
        for (const CatalogueEntry &e : Catalogue::entries()) {
            if (e.formatKey() == QLatin1String(key) && !e.Width)
                return QStringList { "--format", QString::fromLatin1(e.Symbol) };
        }
        return QStringList();
    };
    const Way ways[] = {
        { "copy", { "--copy" }, true, true, true, "" },
        { "keyframe-copy", { "--keyframe-copy" }, true, true, true, "" },
        { "mkv", entry("mkv"), true, true, true, "" },
        { "mp4", entry("mp4h264"), true, true, true, "" },
        { "avi", entry("avi"), false, true, false, "AVI" },
        { "mp3", entry("mp3"), false, false, false, "MP3" },
    };
    const char *const kinds[] = { "video", "audio 2ch", "audio 1ch", "subtitle" };
    const QList<QList<int>> choices { { 0, 2 }, { 0, 1, 2, 3 }, { 2, 1 } };
    const QList<QStringList> ranges {
        { "--start", "0.5", "--end", "3" },
        { "--keep", "0.2-1.4", "--keep", "2.1-3.5" },
    };
    for (const Way &way : ways) {
        for (const QList<int> &choice : choices) {
            for (qsizetype r = 0; r < ranges.size(); ++r) {
                // Joined segments with every track chosen: the other choices add nothing the
                // single range does not show.
                if (r == 1 && (choice.size() < 4 || !way.video))
                    continue;
                QList<int> sorted = choice;
                std::sort(sorted.begin(), sorted.end());
                QStringList kept;
                int audio = 0;
                bool dropped = false;
                for (const int index : sorted) {
                    const bool isAudio = index == 1 || index == 2;
                    const bool joinedConversion = r == 1 && way.args.first() == "--format";
                    if ((index == 0 && !way.video)
                        || (index == 3 && (!way.subtitles || joinedConversion)))
                        continue;
                    if (isAudio && audio++ > 0 && !way.several) {
                        dropped = true;
                        continue;
                    }
                    kept << QString::fromLatin1(kinds[index]);
                }
                QStringList list;
                for (const int index : choice)
                    list << QString::number(index);
                const QString streams = list.join(QLatin1Char(','));
                const QString name = QStringLiteral("%1-%2-%3")
                                         .arg(QLatin1String(way.name), list.join(QString()))
                                         .arg(r);
                QTest::addRow("%s %s %s", way.name, qPrintable(streams), r ? "joined" : "one")
                    << (ranges.at(r) + way.args
                        + QStringList { "--streams", streams, "--name", name, "--yes" })
                    << kept
                    << (dropped ? QStringLiteral("keeps one audio track: %1 holds one")
                                      .arg(QLatin1String(way.oneTrackName))
                                : QString())
                    << !choice.contains(0);
            }
        }
    }
}

void TestSniporaCutTracks::keepsTheChosenTracks()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, kept);
    QFETCH(QString, note);
    QFETCH(bool, videoLeftOut);
    const Result r = cut(QStringList { m_source } + args);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QString path = r.out.trimmed();
    QCOMPARE(streamKinds(path), kept);
    if (!note.isEmpty())
        QVERIFY2(r.err.contains(note), qPrintable(r.err));
    static const QRegularExpression aboutVideo(
        QStringLiteral("key frame|level|re-encode|cut to the frame"),
        QRegularExpression::CaseInsensitiveOption);
    if (videoLeftOut)
        QVERIFY2(!r.err.contains(aboutVideo), qPrintable(r.err));
    QFile::remove(path);
}

QTEST_GUILESS_MAIN(TestSniporaCutTracks)
#include "tst_sniporacut_tracks.moc"
