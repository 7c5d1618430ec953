#include "avlogging.h"
#include "cutwriter.h"
#include "sourcereader.h"
#include "wavfile.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// A range of a generated file written by the cut's writer and read back: the output starts at
// 0 and holds the packets of the range, in the container the extension names.
class TestCutWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void writeRange_data();
    void writeRange();
    void refusals();

private:
    QTemporaryDir m_dir;
    QString m_source;
};

#define CHECK_OK(outcome)                                                                          \
    do {                                                                                           \
        const auto result = (outcome);                                                             \
        QVERIFY2(result.ok(), qPrintable(result.error().sentence));                                \
    } while (false)

namespace {

struct ReadBack
{
    QString format;
    AVCodecID codec = AV_CODEC_ID_NONE;
    double firstSeconds = -1;
    double endSeconds = 0; // where the last packet ends
    int packets = 0;
};

bool readBack(const QString &path, ReadBack *out)
{
    SourceReader reader;
    if (!reader.open(path) || reader.context()->nb_streams != 1)
        return false;
    out->format = QString::fromLatin1(reader.context()->iformat->name);
    out->codec = reader.context()->streams[0]->codecpar->codec_id;
    AvPacketPtr packet = MakePacket();
    while (reader.read(packet.get())) {
        const double t = reader.toSeconds(SourceReader::packetTime(packet.get()), 0);
        if (out->packets++ == 0)
            out->firstSeconds = t;
        out->endSeconds = reader.toSeconds(packet->pts + packet->duration, 0);
        av_packet_unref(packet.get());
    }
    return !reader.readFailed();
}

} // namespace

void TestCutWriter::initTestCase()
{
    QuietLibavLogging();
    QVERIFY(m_dir.isValid());
    m_source = m_dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(WriteWav(m_source, 4.0));
}

void TestCutWriter::writeRange_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<QString>("format");
    QTest::newRow("WAV, the middle") << "middle.wav" << 1.0 << 3.0 << "wav";
    QTest::newRow("WAV, from the start") << "start.wav" << 0.0 << 1.5 << "wav";
    QTest::newRow("Matroska audio") << "range.mka" << 0.5 << 2.5 << "matroska,webm";
    QTest::newRow("QuickTime") << "range.mov" << 2.0 << 4.0 << "mov,mp4,m4a,3gp,3g2,mj2";
    QTest::newRow("no extension: the source's kind") << "plain" << 1.0 << 2.0 << "wav";
}

void TestCutWriter::writeRange()
{
    QFETCH(QString, name);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(QString, format);
    SourceReader source;
    CHECK_OK(source.open(m_source));
    CHECK_OK(source.findEntry(from));
    const QString output = m_dir.filePath(name);
    CutWriter writer;
    CHECK_OK(writer.open(output, source.context(), CutWriter::VideoOverride(),
                         qint64(from * AV_TIME_BASE), qint64(to * AV_TIME_BASE)));
    QVERIFY(writer.leftOut().isEmpty());
    QCOMPARE(writer.outputIndex(0), 0);
    AvPacketPtr packet = MakePacket();
    while (source.read(packet.get())) {
        const double t = source.toSeconds(SourceReader::packetTime(packet.get()), 0);
        if (t >= from - 1e-9 && t < to)
            CHECK_OK(writer.write(packet.get(), 0));
        av_packet_unref(packet.get());
    }
    QVERIFY(writer.bytesWritten() > 0);
    CHECK_OK(writer.finish());

    ReadBack back;
    QVERIFY(readBack(output, &back));
    QCOMPARE(back.format, format);
    QCOMPARE(back.codec, AV_CODEC_ID_PCM_S16LE);
    QVERIFY(back.packets > 0);
    QCOMPARE(back.firstSeconds, 0.0);
    // The source's packets are at most a quarter of a second: the range is there, whole.
    QVERIFY2(std::abs(back.endSeconds - (to - from)) < 0.26,
             qPrintable(QString::number(back.endSeconds)));
}

// What callers branch on: a missing source, a folder that is not there.
void TestCutWriter::refusals()
{
    SourceReader missing;
    QCOMPARE(missing.open(m_dir.filePath(QStringLiteral("none.wav"))).code(),
             ErrorCode::SourceUnreadable);
    SourceReader source;
    CHECK_OK(source.open(m_source));
    CutWriter writer;
    const Outcome opened
        = writer.open(m_dir.filePath(QStringLiteral("gone/out.wav")), source.context(),
                      CutWriter::VideoOverride(), 0, AV_TIME_BASE);
    QCOMPARE(opened.code(), ErrorCode::DestinationUnusable);
    QVERIFY(!opened.error().sentence.isEmpty());
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("gone"))));
}

QTEST_GUILESS_MAIN(TestCutWriter)
#include "tst_cutwriter.moc"
