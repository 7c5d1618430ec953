#include "avlogging.h"
#include "keyframeindex.h"
#include "mediafixtures.h"
#include "thumbnailstrip.h"
#include "waveform.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>
#include <utime.h>

using namespace MediaFixtures;

// The timeline's builders on media made here: key frames against ffprobe's, thumbnails that show
// the frame they name (each frame carries its number in three blocks of grey), waveforms of a
// known signal (silence, then a tone from 1 s), damaged and foreign files, cancels and the cache.
class TestTimeline : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void keyFrames_data();
    void keyFrames();
    void thumbnails_data();
    void thumbnails();
    void waveform_data();
    void waveform();
    void faults_data();
    void faults();
    void cancel_data();
    void cancel();
    void cache_data();
    void cache();

private:
    QString media(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

namespace {

enum class Kind { Index, Thumbnails, Waveform };

constexpr int kRate = 25;
constexpr double kToneStart = 1.0; // seconds of silence before the tone
constexpr float kToneLevel = 0.5f;

// Everything a run of one builder reported.
struct Outcome
{
    bool finished = false;
    QString failure;
    int partials = 0;
    KeyFrameList keys;
    ThumbnailSet thumbnails;
    WaveformData wave;
    QList<WaveformPeak> partialPeaks; // the peaksReady chunks, joined
    bool partialsInOrder = true;
    std::function<void()> onPartial = [] {};
};

std::unique_ptr<BackgroundJob> makeJob(Kind kind, Outcome *out, const TimelineCache &cache)
{
    switch (kind) {
    case Kind::Index: {
        auto job = std::make_unique<KeyFrameIndex>();
        job->setCache(cache);
        QObject::connect(job.get(), &KeyFrameIndex::keyFramesUpdated, [out] {
            ++out->partials;
            out->onPartial();
        });
        QObject::connect(job.get(), &KeyFrameIndex::finished, [out](const KeyFrameList &list) {
            out->finished = true;
            out->keys = list;
        });
        return job;
    }
    case Kind::Thumbnails: {
        auto job = std::make_unique<ThumbnailStrip>();
        job->setCache(cache);
        job->setCount(10);
        QObject::connect(job.get(), &ThumbnailStrip::thumbnailReady, [out] {
            ++out->partials;
            out->onPartial();
        });
        QObject::connect(job.get(), &ThumbnailStrip::finished, [out](const ThumbnailSet &set) {
            out->finished = true;
            out->thumbnails = set;
        });
        return job;
    }
    case Kind::Waveform: {
        auto job = std::make_unique<Waveform>();
        job->setCache(cache);
        QObject::connect(job.get(), &Waveform::peaksReady,
                         [out](int first, const QList<WaveformPeak> &peaks) {
                             out->partialsInOrder &= first == out->partialPeaks.size();
                             out->partialPeaks << peaks;
                             ++out->partials;
                             out->onPartial();
                         });
        QObject::connect(job.get(), &Waveform::finished, [out](const WaveformData &data) {
            out->finished = true;
            out->wave = data;
        });
        return job;
    }
    }
    return {};
}

void startJob(BackgroundJob *job, const QString &path)
{
    if (auto *index = qobject_cast<KeyFrameIndex *>(job))
        index->start(path);
    else if (auto *strip = qobject_cast<ThumbnailStrip *>(job))
        strip->start(path);
    else if (auto *wave = qobject_cast<Waveform *>(job))
        wave->start(path);
}

Outcome runJob(Kind kind, const QString &path, const TimelineCache &cache = TimelineCache())
{
    Outcome out;
    std::unique_ptr<BackgroundJob> job = makeJob(kind, &out, cache);
    QObject::connect(job.get(), &BackgroundJob::failed,
                     [&out](const QString &message) { out.failure = message; });
    startJob(job.get(), path);
    QDeadlineTimer deadline(120000);
    while (job->isRunning() && !deadline.hasExpired())
        QTest::qWait(5);
    return out;
}

QJsonArray probePackets(const QString &path, double *start)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            { "-v", "error", "-select_streams", "v:0", "-show_entries",
              "packet=pts_time,flags:format=start_time", "-of", "json", path });
    p.waitForFinished(60000);
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    *start = root.value("format").toObject().value("start_time").toString().toDouble();
    return root.value("packets").toArray();
}

// ffprobe's key frames (or every frame) of the first video stream, microseconds from the
// file's start.
QList<qint64> probeTimes(const QString &path, bool keysOnly)
{
    double start = 0;
    QList<qint64> times;
    for (const auto &v : probePackets(path, &start)) {
        const QJsonObject packet = v.toObject();
        if (!keysOnly || packet.value("flags").toString().startsWith('K'))
            times << std::llround((packet.value("pts_time").toString().toDouble() - start) * 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}

bool sameTimes(const QList<qint64> &a, const QList<qint64> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (std::abs(a.at(i) - b.at(i)) > 2) // ffprobe prints microseconds, rounded
            return false;
    return true;
}

// The frame number painted into a thumbnail (three base-8 digits in grey, block centres at
// 32 + 64 * digit of the 320x180 source).
int paintedIndex(const QImage &image)
{
    const double scale = image.height() / 180.0;
    int n = 0;
    for (int block = 0; block < 3; ++block) {
        const int cx = int((block * 64 + 32) * scale);
        const int cy = int(32 * scale);
        double sum = 0;
        int count = 0;
        for (int y = cy - 1; y <= cy + 1; ++y)
            for (int x = cx - 1; x <= cx + 1; ++x, ++count)
                sum += qRed(image.pixel(x, y));
        const double luma = sum / count * 219.0 / 255.0 + 16.0; // back to the video's levels
        n = n * 8 + std::clamp(int(std::lround((luma - 20.0) / 28.0)), 0, 7);
    }
    return n;
}

bool makeAudio(const QString &path, const QStringList &codec, int seconds = 3, int rate = 44100,
               int channels = 1)
{
    const QString channel
        = QStringLiteral("if(gte(t,%1),%2*sin(2*PI*440*t),0)").arg(kToneStart).arg(kToneLevel);
    QStringList all;
    for (int c = 0; c < channels; ++c)
        all << channel;
    const QString tone
        = QStringLiteral("aevalsrc='%1':s=%2:d=%3").arg(all.join('|')).arg(rate).arg(seconds);
    return ffmpeg(QStringList { "-f", "lavfi", "-i", tone } + codec + QStringList { path });
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

void TestTimeline::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache-home").toUtf8());
    // x264's defaults (scene cuts, B-frames); the picture flips at four scene cuts, the frame
    // number is painted top left, noise over it all. AAC audio: silence, then the tone.
    const QString paint
        = QStringLiteral(
              "testsrc2=s=320x180:r=%1:d=12,format=yuv420p,geq="
              "lum='if(%2,floor(mod(N/pow(8,2-floor(X/64)),8))*28+20,"
              "if(mod(gte(N,50)+gte(N,120)+gte(N,190)+gte(N,250),2),255-lum(X,Y),lum(X,Y)))'"
              ":cb='if(%2,128,cb(X,Y))':cr='if(%2,128,cr(X,Y))',noise=alls=12:allf=t+u")
              .arg(kRate)
              .arg(QStringLiteral("lt(Y/SH,64)*lt(X/SW,192)*between(mod(X/SW,64),16,47)"
                                  "*between(Y/SH,16,47)"));
    const QString tone
        = QStringLiteral("aevalsrc='if(gte(t,%1),%2*sin(2*PI*440*t),0)':s=48000:d=12")
              .arg(kToneStart)
              .arg(kToneLevel);
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", paint, "-f", "lavfi", "-i", tone, "-c:v", "libx264",
                     "-c:a", "aac", "-shortest", media("clip.mp4") }));
    QVERIFY(ffmpeg({ "-i", media("clip.mp4"), "-c", "copy", media("clip.mkv") }));
    QVERIFY(ffmpeg(
        { "-i", media("clip.mp4"), "-c", "copy", "-output_ts_offset", "10", media("clip.ts") }));
    // Matroska written without seeking back: no Cues, no length.
    QProcess pipe;
    pipe.setStandardOutputFile(media("nocues.mkv"));
    pipe.start("ffmpeg",
               { "-nostdin", "-v", "error", "-i", media("clip.mp4"), "-c", "copy", "-f", "matroska",
                 "-" });
    QVERIFY(pipe.waitForFinished(60000) && pipe.exitCode() == 0);

    QVERIFY(makeAudio(media("tone.mp3"), { "-c:a", "libmp3lame" }));
    QVERIFY(makeAudio(media("tone.flac"), { "-c:a", "flac" }));
    QVERIFY(makeAudio(media("tone.wav"), { "-c:a", "pcm_s16le" }, 3, 44100, 2));
    QVERIFY(makeAudio(media("tone.ogg"), { "-c:a", "libvorbis" }));
    QVERIFY(makeAudio(media("tone.m4a"), { "-c:a", "aac" }));
    // Silence first, the tone on the second track.
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono:d=3", "-i", media("tone.flac"),
                     "-map", "0", "-map", "1", "-c:a", "flac", media("tracks.mka") }));
    // Long enough for the waveform to report as it goes (and to be cancelled half way).
    QVERIFY(makeAudio(media("long.wav"), { "-c:a", "pcm_u8" }, 240, 8000));
    // Every frame a key frame at 1080p: each picture of the strip is a decode of its own.
    QVERIFY(ffmpeg({ "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=25:d=4", "-c:v", "libx264",
                     "-preset", "ultrafast", "-g", "1", media("large.mp4") }));

    // Damage: the MP4 cut before its sample table, garbage over the middle of the MPEG-TS and
    // the Matroska file, a text file, an empty file.
    QFile clip(media("clip.mp4"));
    QVERIFY(clip.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(media("truncated.mp4"), clip.readAll().left(clip.size() / 2)));
    for (const QString &name : { QStringLiteral("clip.ts"), QStringLiteral("clip.mkv") }) {
        QFile f(media(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        for (qsizetype i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i)
            bytes[i] = char((i * 7919) >> 3);
        QVERIFY(writeFile(media("damaged." + QFileInfo(name).suffix()), bytes));
    }
    QVERIFY(writeFile(media("notes.mp4"), "These are not the pictures you are looking for.\n"));
    QVERIFY(writeFile(media("empty.mkv"), {}));
}

void TestTimeline::keyFrames_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("fromIndex"); // the container lists its key frames
    QTest::addColumn<bool>("frameTimes"); // every frame's time is given too

    QTest::newRow("mp4: key samples") << "clip.mp4" << true << false;
    QTest::newRow("mkv: cues") << "clip.mkv" << true << false;
    QTest::newRow("mkv without cues: packets") << "nocues.mkv" << false << true;
    QTest::newRow("ts from 10 s: packets") << "clip.ts" << false << true;
    QTest::newRow("mp3: no video") << "tone.mp3" << false << false;
}

void TestTimeline::keyFrames()
{
    QFETCH(QString, file);
    QFETCH(bool, fromIndex);
    QFETCH(bool, frameTimes);
    const Outcome out = runJob(Kind::Index, media(file), TimelineCache::disabled());
    QVERIFY2(out.finished, qPrintable(out.failure));
    const KeyFrameList &list = out.keys;
    QCOMPARE(list.fromContainerIndex, fromIndex);
    const QList<qint64> expected = probeTimes(media(file), true);
    QVERIFY2(sameTimes(list.keyFrames, expected),
             qPrintable(QStringLiteral("%1 key frames, ffprobe %2 (first %3 / %4)")
                            .arg(list.keyFrames.size())
                            .arg(expected.size())
                            .arg(list.keyFrames.value(0))
                            .arg(expected.value(0))));
    if (!expected.isEmpty())
        QVERIFY(expected.size() >= 3); // the scene cuts gave key frames of their own
    if (frameTimes)
        QVERIFY(sameTimes(list.frameTimes, probeTimes(media(file), false)));
    if (file.endsWith(".mp4"))
        QCOMPARE(list.frameCount, 12 * kRate);
}

void TestTimeline::thumbnails_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("mp4") << "clip.mp4";
    QTest::newRow("mkv") << "clip.mkv";
    QTest::newRow("mkv without cues") << "nocues.mkv";
    QTest::newRow("ts from 10 s") << "clip.ts";
    QTest::newRow("mp3: no video") << "tone.mp3";
}

void TestTimeline::thumbnails()
{
    QFETCH(QString, file);
    const Outcome out = runJob(Kind::Thumbnails, media(file), TimelineCache::disabled());
    QVERIFY2(out.finished, qPrintable(out.failure));
    const QList<Thumbnail> &thumbs = out.thumbnails.thumbnails;
    QCOMPARE(out.partials, thumbs.size());
    const QList<qint64> keys = probeTimes(media(file), true);
    if (keys.isEmpty()) {
        QVERIFY(thumbs.isEmpty());
        return;
    }
    QCOMPARE(thumbs.size(), 10);
    // Spread over the whole file, whether or not the container states its length.
    QVERIFY2(std::abs(thumbs.last().requestedMicros - 11400000) < 50000,
             qPrintable(QString::number(thumbs.last().requestedMicros)));
    const qint64 firstFrame = probeTimes(media(file), false).first();
    for (const Thumbnail &t : thumbs) {
        // The key frame at or before the time it stands for.
        const auto after = std::upper_bound(keys.cbegin(), keys.cend(), t.requestedMicros);
        const qint64 key = after == keys.cbegin() ? keys.first() : *(after - 1);
        QVERIFY2(std::abs(t.frameMicros - key) <= 2,
                 qPrintable(QStringLiteral("at %1: frame %2, key %3")
                                .arg(t.requestedMicros)
                                .arg(t.frameMicros)
                                .arg(key)));
        QCOMPARE(t.image.size(), QSize(96, 54));
        QCOMPARE(paintedIndex(t.image), int(std::lround((key - firstFrame) * kRate / 1e6)));
    }
}

void TestTimeline::waveform_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("stream"); // -1: the first audio stream
    QTest::addColumn<int>("seconds");
    for (const char *name : { "tone.mp3", "tone.flac", "tone.wav", "tone.ogg", "tone.m4a" })
        QTest::newRow(name) << QString::fromLatin1(name) << -1 << 3;
    QTest::newRow("audio of a video") << "clip.mkv" << -1 << 12;
    QTest::newRow("second track chosen") << "tracks.mka" << 1 << 3;
    QTest::newRow("long, reported as it goes") << "long.wav" << -1 << 240;
    QTest::newRow("no audio") << "large.mp4" << -1 << 0;
}

void TestTimeline::waveform()
{
    QFETCH(QString, file);
    QFETCH(int, stream);
    QFETCH(int, seconds);
    Outcome out;
    Waveform job;
    job.setCache(TimelineCache::disabled());
    job.setAudioStream(stream);
    connect(&job, &Waveform::peaksReady, [&](int first, const QList<WaveformPeak> &peaks) {
        out.partialsInOrder &= first == out.partialPeaks.size();
        out.partialPeaks << peaks;
        ++out.partials;
    });
    connect(&job, &Waveform::finished, [&](const WaveformData &data) {
        out.finished = true;
        out.wave = data;
    });
    connect(&job, &Waveform::failed, [&](const QString &message) { out.failure = message; });
    job.start(media(file));
    QTRY_VERIFY_WITH_TIMEOUT(!job.isRunning(), 60000);
    QVERIFY2(out.finished, qPrintable(out.failure));
    const WaveformData &wave = out.wave;
    if (seconds == 0) {
        QCOMPARE(wave.streamIndex, -1);
        QVERIFY(wave.peaks.isEmpty());
        return;
    }
    QCOMPARE(wave.bucketsPerSecond, double(Waveform::kDefaultBucketsPerSecond));
    QVERIFY(std::abs(wave.peaks.size() - seconds * wave.bucketsPerSecond) <= 5);
    // Reported in order, and the reports add up to the whole.
    QVERIFY(out.partialsInOrder);
    QCOMPARE(out.partialPeaks, wave.peaks);
    if (seconds > 60)
        QVERIFY(out.partials > 1);
    // Silence, then the tone from 1 s on at its level, to within the encoders' rounding.
    const auto bucketAt = [&](double s) { return int(s * wave.bucketsPerSecond); };
    int onset = -1;
    for (int i = 0; i < wave.peaks.size() && onset < 0; ++i)
        if (wave.peaks.at(i).high > kToneLevel / 2)
            onset = i;
    QVERIFY2(std::abs(onset - bucketAt(kToneStart)) <= 3, qPrintable(QString::number(onset)));
    for (int i = 0; i < bucketAt(kToneStart - 0.05); ++i)
        QVERIFY2(std::abs(wave.peaks.at(i).low) < 0.02 && std::abs(wave.peaks.at(i).high) < 0.02,
                 qPrintable(QString::number(i)));
    for (int i = bucketAt(kToneStart + 0.05); i < bucketAt(seconds - 0.1); ++i)
        QVERIFY2(std::abs(wave.peaks.at(i).high - kToneLevel) < 0.05
                     && std::abs(wave.peaks.at(i).low + kToneLevel) < 0.05,
                 qPrintable(QStringLiteral("%1: %2 %3")
                                .arg(i)
                                .arg(wave.peaks.at(i).low)
                                .arg(wave.peaks.at(i).high)));
}

void TestTimeline::faults_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("fails"); // else it finishes with what can be read
    QTest::newRow("missing") << "missing.mp4" << true;
    QTest::newRow("folder") << "cache-home" << true;
    QTest::newRow("empty") << "empty.mkv" << true;
    QTest::newRow("text") << "notes.mp4" << true;
    QTest::newRow("mp4 cut before its sample table") << "truncated.mp4" << true;
    QTest::newRow("ts, garbage in the middle") << "damaged.ts" << false;
    QTest::newRow("mkv, garbage in the middle") << "damaged.mkv" << false;
}

void TestTimeline::faults()
{
    QFETCH(QString, file);
    QFETCH(bool, fails);
    QDir().mkpath(media("cache-home"));
    for (const Kind kind : { Kind::Index, Kind::Thumbnails, Kind::Waveform }) {
        const Outcome out = runJob(kind, media(file), TimelineCache::disabled());
        QCOMPARE(out.finished, !fails);
        QCOMPARE(out.failure.isEmpty(), !fails);
        if (fails)
            QVERIFY2(out.failure.contains(media(file)), qPrintable(out.failure));
    }
}

void TestTimeline::cancel_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("atOnce"); // else on its first partial result, with more queued
    QTest::newRow("index, at once") << int(Kind::Index) << "clip.ts" << true;
    QTest::newRow("index, estimated") << int(Kind::Index) << "clip.mp4" << false;
    QTest::newRow("thumbnails, at once") << int(Kind::Thumbnails) << "large.mp4" << true;
    QTest::newRow("thumbnails, half way") << int(Kind::Thumbnails) << "large.mp4" << false;
    QTest::newRow("waveform, at once") << int(Kind::Waveform) << "long.wav" << true;
    QTest::newRow("waveform, half way") << int(Kind::Waveform) << "long.wav" << false;
}

void TestTimeline::cancel()
{
    QFETCH(int, kind);
    QFETCH(QString, file);
    QFETCH(bool, atOnce);
    Outcome out;
    std::unique_ptr<BackgroundJob> job = makeJob(Kind(kind), &out, TimelineCache::disabled());
    if (auto *strip = qobject_cast<ThumbnailStrip *>(job.get()))
        strip->setCount(100);
    QObject::connect(job.get(), &BackgroundJob::failed,
                     [&out](const QString &message) { out.failure = message; });
    // Cancelled from the first partial result's slot: what the worker queued behind it (more
    // partial results, the end) must not arrive.
    out.onPartial = [&] {
        job->cancel();
        out.onPartial = [] {};
    };
    startJob(job.get(), media(file));
    if (atOnce)
        job->cancel();
    else
        QTRY_VERIFY_WITH_TIMEOUT(out.partials > 0, 60000);
    QVERIFY(!job->isRunning());
    QTest::qWait(300);
    QCOMPARE(out.partials, atOnce ? 0 : 1);
    QVERIFY(!out.finished);
    QVERIFY(out.failure.isEmpty());
    out.onPartial = [] {};
    // A start after a cancel runs to its end (the cancelled worker never speaks for it).
    startJob(job.get(), media(file));
    QTRY_VERIFY_WITH_TIMEOUT(!job->isRunning(), 120000);
    QVERIFY2(out.finished, qPrintable(out.failure));
    // Destroyed half way: the worker stops and is joined long before it would have ended.
    startJob(job.get(), media(file));
    QElapsedTimer clock;
    clock.start();
    job.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

void TestTimeline::cache_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("file");
    QTest::newRow("index, mp4") << int(Kind::Index) << "clip.mp4";
    QTest::newRow("index, ts") << int(Kind::Index) << "clip.ts";
    QTest::newRow("thumbnails, mkv") << int(Kind::Thumbnails) << "clip.mkv";
    QTest::newRow("waveform, flac") << int(Kind::Waveform) << "tone.flac";
}

void TestTimeline::cache()
{
    QFETCH(int, kind);
    QFETCH(QString, file);
    const QString source = media("cached-" + file);
    QFile::remove(source);
    QVERIFY(QFile::copy(media(file), source));
    // Under XDG_CACHE_HOME, set to the test's folder; a folder of its own for each row.
    QVERIFY(TimelineCache().folder().startsWith(m_dir.path()));
    const TimelineCache cache(TimelineCache::defaultFolder() + QString::number(kind) + file,
                              TimelineCache::kDefaultMaxBytes);
    const auto same = [](const Outcome &a, const Outcome &b) {
        const auto thumbs = [](const Outcome &o) {
            QList<std::pair<qint64, QImage>> v;
            for (const Thumbnail &t : o.thumbnails.thumbnails)
                v.append({ t.frameMicros, t.image });
            return v;
        };
        return a.keys.keyFrames == b.keys.keyFrames && a.keys.frameTimes == b.keys.frameTimes
            && a.keys.frameCount == b.keys.frameCount && thumbs(a) == thumbs(b)
            && a.wave.peaks == b.wave.peaks && a.wave.bucketsPerSecond == b.wave.bucketsPerSecond;
    };
    const Outcome built = runJob(Kind(kind), source, cache);
    QVERIFY(built.finished);
    const QString entry = QDir(cache.folder()).entryList({ "*.tlc" }).value(0);
    QVERIFY(!entry.isEmpty());
    const auto fromCache = [](const Outcome &o) {
        return o.keys.fromCache || o.thumbnails.fromCache || o.wave.fromCache;
    };
    QVERIFY(!fromCache(built));

    const Outcome hit = runJob(Kind(kind), source, cache);
    QVERIFY(fromCache(hit));
    QVERIFY(same(hit, built));

    // A damaged entry is ignored, and written anew.
    const QString entryPath = QDir(cache.folder()).filePath(entry);
    QFile damaged(entryPath);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    damaged.seek(damaged.size() / 2);
    damaged.write("damage");
    damaged.close();
    const Outcome rebuilt = runJob(Kind(kind), source, cache);
    QVERIFY(!fromCache(rebuilt));
    QVERIFY(same(rebuilt, built));
    QVERIFY(fromCache(runJob(Kind(kind), source, cache)));

    // A changed file is read again.
    struct utimbuf times
    {
        1000000000, 1000000000
    };
    QCOMPARE(utime(QFile::encodeName(source).constData(), &times), 0);
    QVERIFY(!fromCache(runJob(Kind(kind), source, cache)));

    // Kept under its bound: a cache smaller than one entry keeps none.
    const TimelineCache tiny(m_dir.filePath("tiny-cache"), 16);
    runJob(Kind(kind), source, tiny);
    QVERIFY(!fromCache(runJob(Kind(kind), source, tiny)));
    QVERIFY(QDir(tiny.folder()).entryList({ "*.tlc" }).isEmpty());
}

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
