#include "avlogging.h"
#include "catalogue.h"
#include "copynotes.h"
#include "ffmpegencoder.h"
#include "formvideoformat.h"
#include "recordingmessagesink.h"
#include "sharedvalues.h"
#include "startcut.h"
#include "streamlist.h"
#include "trackmedia.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace MediaFixtures;
using namespace TrackMedia;

// The dialog's track list on a file with four tracks: what it shows, what it ticks by itself,
// and that the boxes decide what the saved file holds.
class TestFormVideoFormatTracks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void shownOnlyWithAChoice();
    void boxesDecideTheSavedFile_data();
    void boxesDecideTheSavedFile();

private:
    // The dialog for a cut of 0.5 to 2.5 s of the file; OK runs the job with the real encoder.
    std::unique_ptr<FormVideoFormat> makeDialog(const QString &source);

    QTemporaryDir m_dir;
    QString m_source;
    SharedValues m_shared;
    RecordingMessageSink m_messages;
    bool m_saved = false;
};

void TestFormVideoFormatTracks::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath("settings"));
    m_source = makeFourTracks(QDir(m_dir.path()));
    QVERIFY(!m_source.isEmpty());
    QuietLibavLogging();
}

std::unique_ptr<FormVideoFormat> TestFormVideoFormatTracks::makeDialog(const QString &source)
{
    m_shared = SharedValues();
    m_shared.InputFilePath = source;
    m_shared.Job.output.folder = m_dir.path() + QLatin1Char('/');
    m_shared.SourceWidth = 320;
    m_shared.SourceHeight = 240;
    m_shared.SourceHasVideo = true;
    m_shared.SourceBitrateKbps = 500;
    m_shared.CutStartSeconds = 0.5;
    m_shared.CutLengthSeconds = 2;
    m_saved = false;
    FormVideoFormatParts parts;
    parts.shared = &m_shared;
    parts.messages = &m_messages;
    parts.audioChannelCount = [] { return 2; };
    parts.sourceStreams = [this] { return ListStreamsOrNone(m_shared.InputFilePath); };
    parts.copyStartNote
        = [this](const QList<CutSpan> &ranges, bool exact, const QList<int> &streams) {
              return CopyRangesNote(m_shared.InputFilePath, ranges, exact, streams);
          };
    parts.trackNotes = ConversionTrackNotes;
    parts.startConversion = [this] {
        FfmpegEncoder encoder;
        QVERIFY(encoder.locateLibrary(QString()));
        QEventLoop loop;
        connect(&encoder, &Encoder::encoderFinished, &loop,
                [&](int, bool succeeded, bool, const QString &message) {
                    m_saved = succeeded;
                    if (!succeeded)
                        qWarning() << message;
                    loop.quit();
                });
        if (startCut(encoder, m_shared.Job))
            loop.exec();
    };
    return std::make_unique<FormVideoFormat>(std::move(parts), nullptr);
}

void TestFormVideoFormatTracks::shownOnlyWithAChoice()
{
    const QString plain = makeH264Aac(QDir(m_dir.path()), QStringLiteral("plain.mp4"), 2);
    for (const auto &[file, shown] : { std::pair { plain, false }, std::pair { m_source, true } }) {
        auto d = makeDialog(file);
        QTimer::singleShot(0, d.get(), [&d, shown = shown] {
            auto *group = d->findChild<QGroupBox *>(QStringLiteral("GroupTracks"));
            QVERIFY(group);
            QCOMPARE(group->isVisible(), shown);
            QCOMPARE(group->findChildren<QCheckBox *>().size(), shown ? 4 : 0);
            d->hide();
        });
        d->showForCut();
        d->closeForGood();
    }
}

// The mode's own choice until a box changes: every track for a copy, ffmpeg's pick (the
// video, the stereo track and, Matroska taking them, the subtitles) for a conversion.
void TestFormVideoFormatTracks::boxesDecideTheSavedFile_data()
{
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("format"); // of a conversion (the catalogue's format key)
    QTest::addColumn<QStringList>("toggled"); // object names of the boxes clicked
    QTest::addColumn<QStringList>("kept");
    // The line under the options before OK: where a copy (one that starts on a key frame)
    // starts, nothing of a video left out; what a conversion cannot keep of the chosen tracks.
    QTest::addColumn<QString>("note");
    const QStringList all { "video", "audio 2ch", "audio 1ch", "subtitle" };
    const QString start = QStringLiteral("The copy starts at 00:00:00.0, on the key frame at "
                                         "or before the start mark.");
    QTest::newRow("copy, as it is") << true << "" << QStringList() << all << start;
    QTest::newRow("copy without the second audio")
        << true << "" << QStringList { "Track2" }
        << QStringList { "video", "audio 2ch", "subtitle" } << start;
    QTest::newRow("copy of the sound only") << true << "" << QStringList { "Track0", "Track3" }
                                            << QStringList { "audio 2ch", "audio 1ch" } << "";
    QTest::newRow("conversion, as it is") << false << "mkv" << QStringList()
                                          << QStringList { "video", "audio 2ch", "subtitle" } << "";
    QTest::newRow("conversion with every track")
        << false << "mkv" << QStringList { "Track2" } << all << "";
    QTest::newRow("conversion with the other audio")
        << false << "mkv" << QStringList { "Track1", "Track2", "Track3" }
        << QStringList { "video", "audio 1ch" } << "";
    QTest::newRow("conversion to AVI of both audio tracks")
        << false << "avi" << QStringList { "Track2" } << QStringList { "video", "audio 2ch" }
        << "Keeps one audio track: AVI holds one.";
}

void TestFormVideoFormatTracks::boxesDecideTheSavedFile()
{
    QFETCH(bool, copy);
    QFETCH(QString, format);
    QFETCH(QStringList, toggled);
    QFETCH(QStringList, kept);
    QFETCH(QString, note);
    auto d = makeDialog(m_source);
    const QString name = QStringLiteral("dialog-%1").arg(QTest::currentDataTag()).replace(' ', '-');
    QString extension = QStringLiteral("mkv");
    QTimer::singleShot(0, d.get(), [&] {
        if (copy) {
            d->model().option1Click();
            d->model().setExactCut(false);
        } else {
            for (const CatalogueEntry &e : Catalogue::entries()) {
                if (e.formatKey() == format && !e.Width) {
                    d->model().SelectCatalogueEntry(e.Id, e.caption());
                    extension = format;
                    break;
                }
            }
            d->model().option2Click();
        }
        const QList<QCheckBox *> boxes
            = d->findChildren<QCheckBox *>(QRegularExpression(QStringLiteral("^Track\\d$")));
        QCOMPARE(boxes.size(), 4);
        for (QCheckBox *box : boxes) {
            if (copy || format == QLatin1String("mkv"))
                QCOMPARE(box->isChecked(), copy || box->objectName() != QLatin1String("Track2"));
        }
        for (const QString &toggle : toggled)
            d->findChild<QCheckBox *>(toggle)->click();
        const auto *line = d->findChild<QLabel *>(QStringLiteral("LabelCopyStart"));
        QVERIFY(line);
        QCOMPARE(line->isVisible() ? line->text() : QString(), note);
        if (qEnvironmentVariableIsSet("SNIPORA_TRACKS_SHOT"))
            d->grab().save(qEnvironmentVariable("SNIPORA_TRACKS_SHOT") + name + ".png");
        d->model().setFileName(name);
        QVERIFY(d->ok());
    });
    d->showForCut();
    d->closeForGood();
    QVERIFY(m_saved);
    QCOMPARE(streamKinds(m_dir.filePath(name + QLatin1Char('.') + extension)), kept);
}

QTEST_MAIN(TestFormVideoFormatTracks)
#include "tst_formvideoformat_tracks.moc"
