#include "argumentbuilder.h"
#include "avprobe.h"
#include "catalogue.h"
#include "ffmpegencoder.h"
#include "mediafixtures.h"
#include "outputmodel.h"
#include "timecode.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaFixtures;

// Every catalogue entry, end to end with the real encoder: a 2 s cut of a generated clip,
// built through the dialog's model and the argument builder, becomes a file that plays.
// Two jobs run at a time (the machine has two cores).
class TestCatalogueEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyEntry();
    void directCopies_data();
    void directCopies();

private:
    struct Job
    {
        const CatalogueEntry *entry = nullptr;
        QString output;
        std::unique_ptr<FfmpegEncoder> encoder;
        bool done = false;
        bool succeeded = false;
        QString message;
    };
    BuildInputs inputsFor(const QString &path);
    QString check(const Job &job);

    QTemporaryDir m_dir;
    QString m_clip;
};

void TestCatalogueEndToEnd::initTestCase()
{
    m_clip = makeH264Aac(QDir(m_dir.path()), QStringLiteral("source.mp4"), 5, QStringLiteral("320x240"));
    QVERIFY(!m_clip.isEmpty());
    QDir(m_dir.path()).mkpath(QStringLiteral("out"));
}

BuildInputs TestCatalogueEndToEnd::inputsFor(const QString &path)
{
    AvProbe probe;
    BuildInputs in;
    if (!probe.open(path, QString()))
        return in;
    in.InputFilePath = path;
    in.SourceWidth = probe.pictureWidth(probe.videoStreamIndex());
    in.SourceHeight = probe.pictureHeight(probe.videoStreamIndex());
    in.SourceHasVideo = probe.videoStreamCount() > 0;
    in.SourceBitrateKbps = EstimateSourceBitrateKbps(probe.fileSize(), probe.durationMicros() / 100000.0,
                                                     probe.audioStreamCount());
    in.AudioChannelCount = probe.channelCount(probe.audioStreamIndex());
    in.CutStartSeconds = 1.5;
    in.CutLengthSeconds = 2;
    return in;
}

// "" when the output is right, else what is wrong.
QString TestCatalogueEndToEnd::check(const Job &job)
{
    const CatalogueEntry &e = *job.entry;
    if (!job.succeeded)
        return QStringLiteral("failed: ") + job.message;
    if (!job.output.endsWith(QLatin1Char('.') + ExtensionForKey(e.formatKey())))
        return QStringLiteral("extension of ") + job.output;
    const ProbeResult p = ffprobe(job.output);
    if (!p.ok)
        return QStringLiteral("ffprobe cannot read it");
    if (p.audioStreams < 1)
        return QStringLiteral("no audio");
    if (e.AudioOnly != (p.videoStreams == 0))
        return QStringLiteral("video streams: %1").arg(p.videoStreams);
    if (e.hasSize() && QStringLiteral("%1x%2").arg(p.width).arg(p.height)
                           != QStringLiteral("%1x%2").arg(QLatin1String(e.Width), QLatin1String(e.Height)))
        return QStringLiteral("size %1x%2").arg(p.width).arg(p.height);
    if (e.FrameRate) {
        const QStringList parts = p.frameRate.split(QLatin1Char('/'));
        const double rate = parts.value(0).toDouble() / std::max(1.0, parts.value(1).toDouble());
        if (std::abs(rate - QString::fromLatin1(e.FrameRate).toDouble()) > 0.02)
            return QStringLiteral("frame rate %1").arg(p.frameRate);
    }
    if (std::abs(p.duration - 2.0) > 0.2)
        return QStringLiteral("duration %1").arg(p.duration);
    QString errors;
    if (!decodesCleanly(job.output, &errors))
        return QStringLiteral("decode errors: ") + errors.left(300);
    return QString();
}

void TestCatalogueEndToEnd::everyEntry()
{
    const BuildInputs in = inputsFor(m_clip);
    QVERIFY(in.SourceHasVideo);
    const auto entries = Catalogue::entries();
    QList<Job *> running;
    QStringList problems;
    size_t next = 0;
    int finished = 0;
    QEventLoop loop;
    std::vector<std::unique_ptr<Job>> jobs;

    std::function<void()> startNext = [&] {
        while (running.size() < 2 && next < entries.size()) {
            auto job = std::make_unique<Job>();
            job->entry = &entries[next++];
            OutputSettingsModel model;
            model.load(m_dir.filePath(QStringLiteral("out")));
            model.SelectCatalogueEntry(job->entry->Id, job->entry->caption());
            BuilderMemory memory;
            const EncoderJob built = BuildEncoderArguments(model, in, memory);
            job->output = m_dir.filePath(QStringLiteral("out/%1.%2").arg(job->entry->Id).arg(built.OutputExtension));
            job->encoder = std::make_unique<FfmpegEncoder>();
            job->encoder->loadLibrary(QString());
            const int input = job->encoder->addInputFile(in.InputFilePath,
                                                         QStringLiteral("-TimeStart ") + NumberText(in.CutStartSeconds));
            Job *raw = job.get();
            if (input < 0 || job->encoder->addOutputFile(input, job->output, built.EncoderArguments) < 0) {
                problems << QStringLiteral("%1: set-up: %2").arg(job->entry->Id).arg(job->encoder->lastErrorText());
                ++finished;
                jobs.push_back(std::move(job));
                continue;
            }
            connect(raw->encoder.get(), &Encoder::encoderFinished, &loop,
                    [&, raw](int, bool ok, bool, const QString &message) {
                        raw->done = true;
                        raw->succeeded = ok;
                        raw->message = message;
                        running.removeAll(raw);
                        const QString problem = check(*raw);
                        if (!problem.isEmpty())
                            problems << QStringLiteral("%1 %2 (%3): %4")
                                            .arg(raw->entry->Id)
                                            .arg(raw->entry->caption(), raw->entry->formatKey(), problem);
                        ++finished;
                        QFile::remove(raw->output);
                        if (finished == int(entries.size()))
                            loop.quit();
                        else
                            startNext();
                    });
            running << raw;
            raw->encoder->startEncoding(1);
            jobs.push_back(std::move(job));
        }
        if (finished == int(entries.size()))
            loop.quit();
    };
    startNext();
    if (finished < int(entries.size()))
        loop.exec();
    QCOMPARE(finished, int(entries.size()));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void TestCatalogueEndToEnd::directCopies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("codecs");
    QTest::newRow("mp4") << "copy-src.mp4" << QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"};
    QTest::newRow("mkv") << "copy-src.mkv" << QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "libvorbis"};
    QTest::newRow("mp3") << "copy-src.mp3" << QStringList{"-vn", "-c:a", "libmp3lame"};
    // The header of a FLAC file states its length: the cut's must state the cut's.
    QTest::newRow("flac") << "copy-src.flac" << QStringList{"-vn", "-c:a", "flac"};
    QTest::newRow("no extension") << "copy-src" << QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-f", "mp4"};
}

void TestCatalogueEndToEnd::directCopies()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codecs);
    const QString source = m_dir.filePath(name);
    QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=6", "-f", "lavfi",
                               "-i", "sine=duration=6", "-g", "10", "-shortest"}
                   + codecs + QStringList{source}));
    const BuildInputs in = inputsFor(source);
    OutputSettingsModel model;
    model.load(m_dir.filePath(QStringLiteral("out")));
    model.option1Click();
    BuilderMemory memory;
    const EncoderJob built = BuildEncoderArguments(model, in, memory);
    QVERIFY(built.DirectCopyMode);
    const QString output = m_dir.filePath(QStringLiteral("out/%1-cut.%2").arg(name, built.OutputExtension));
    FfmpegEncoder encoder;
    QVERIFY(encoder.loadLibrary(QString()));
    const int input = encoder.addInputFile(source, QString());
    QVERIFY(input >= 0);
    QVERIFY2(encoder.addOutputFile(input, output, built.EncoderArguments) >= 0, qPrintable(encoder.lastErrorText()));
    bool done = false, ok = false;
    QString message;
    connect(&encoder, &Encoder::encoderFinished, this, [&](int, bool s, bool, const QString &m) {
        done = true;
        ok = s;
        message = m;
    });
    encoder.startEncoding(1);
    QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
    QVERIFY2(ok, qPrintable(message));
    const ProbeResult p = ffprobe(output);
    QVERIFY(p.ok);
    // A copy starts at the key frame at or before the start (every 0.4 s here), so it may be
    // up to one key-frame interval longer; containers with edit lists (mp4) trim it exactly.
    QVERIFY2(p.duration >= 1.8 && p.duration <= 2.0 + 0.4 + 0.2, qPrintable(QString::number(p.duration)));
    QString errors;
    QVERIFY2(decodesCleanly(output, &errors), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestCatalogueEndToEnd)
#include "tst_catalogue_e2e.moc"
