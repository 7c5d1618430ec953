#include "avlogging.h"
#include "sourcereader.h"
#include "streamcopy.h"
#include "wavfile.h"

#include <QTemporaryDir>
#include <QTest>

// The in-process copy of a range of a generated audio file: the audio is cut at the packet
// boundaries nearest the marks, an end past the file's end copies to its end, a stop is no
// success.
class TestStreamCopy : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void audioRange_data();
    void audioRange();

private:
    QTemporaryDir m_dir;
    QString m_source;
};

namespace {

// Seconds from the first packet's start to the last one's end; -1 when unreadable.
double lengthOf(const QString &path)
{
    SourceReader reader;
    if (!reader.open(path))
        return -1;
    AvPacketPtr packet = MakePacket();
    double first = -1;
    double end = -1;
    while (reader.read(packet.get())) {
        const double t = reader.toSeconds(packet->pts, packet->stream_index);
        if (first < 0)
            first = t;
        end = reader.toSeconds(packet->pts + packet->duration, packet->stream_index);
        av_packet_unref(packet.get());
    }
    return first == 0 ? end : -1;
}

} // namespace

void TestStreamCopy::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    m_source = m_dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(WriteWav(m_source, 6.0));
}

void TestStreamCopy::audioRange_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("length"); // -1: to the end
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("expected"); // seconds in the output
    QTest::newRow("the middle") << 1.0 << 2.0 << false << true << 2.0;
    QTest::newRow("from the start") << 0.0 << 1.5 << false << true << 1.5;
    QTest::newRow("to the end") << 4.0 << -1.0 << false << true << 2.0;
    QTest::newRow("an end past the file's end: to the end") << 5.0 << 30.0 << false << true << 1.0;
    QTest::newRow("stopped") << 1.0 << 2.0 << true << false << 0.0;
}

void TestStreamCopy::audioRange()
{
    QFETCH(double, start);
    QFETCH(double, length);
    QFETCH(bool, cancel);
    QFETCH(bool, ok);
    QFETCH(double, expected);
    StreamCopyJob job;
    job.inputPath = m_source;
    job.outputPath = m_dir.filePath(QStringLiteral("%1.wav").arg(QTest::currentDataTag()));
    job.startSeconds = start;
    job.lengthSeconds = length;
    StreamCopy copy(job);
    const std::atomic<bool> stop { cancel };
    double lastFraction = -1;
    const Outcome done = copy.run(stop, [&](qint64, double f) { lastFraction = f; });
    QCOMPARE(done.ok(), ok);
    QCOMPARE(done.error().sentence.isEmpty(), ok);
    if (cancel)
        QCOMPARE(done.code(), ErrorCode::Stopped);
    if (!ok)
        return;
    QCOMPARE(lastFraction, 1.0);
    // Packets of the source are at most a quarter of a second.
    const double seconds = lengthOf(job.outputPath);
    QVERIFY2(std::abs(seconds - expected) < 0.26, qPrintable(QString::number(seconds)));
}

QTEST_GUILESS_MAIN(TestStreamCopy)
#include "tst_streamcopy.moc"
