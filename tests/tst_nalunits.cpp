#include "av1obus.h"
#include "exactcodecs.h"
#include "nalbits.h"
#include "nalrewrite.h"
#include "nalunits.h"

#include <QTest>

#include <utility>

// The framing of NAL units and their emulation prevention bytes: what a copy reads from one
// container must be written into another unchanged.
class TestNalUnits : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void split_data();
    void split();
    void emulation_data();
    void emulation();
    void renamedIds_data();
    void renamedIds();
    void streamHeaders_data();
    void streamHeaders();
    void av1Starts_data();
    void av1Starts();
    void av1SequenceHeaders_data();
    void av1SequenceHeaders();
};

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

void TestNalUnits::roundTrip_data()
{
    QTest::addColumn<QList<QByteArray>>("units");
    QTest::addColumn<int>("lengthSize");
    const QList<QByteArray> three { hex("6742c01e"), hex("68ce3c80"), hex("6588840021") };
    // A payload that ends in zeros once emulation prevention is undone keeps them behind its
    // 03 byte: Annex B's trailing zeros belong to the next start code.
    const QList<QByteArray> zeroEnd { NalBits::fromRbsp(hex("650000")), hex("41e2") };
    for (const int size : { 0, 1, 2, 4 }) {
        QTest::addRow("three units, length %d", size) << three << size;
        QTest::addRow("payload ending in zeros, length %d", size) << zeroEnd << size;
        QTest::addRow("one unit, length %d", size) << QList<QByteArray> { hex("09f0") } << size;
    }
    const QByteArray large(300, '\x41');
    QTest::newRow("unit over 255 bytes, length 2") << QList<QByteArray> { large } << 2;
    QTest::newRow("unit over 255 bytes, length 4") << QList<QByteArray> { large, large } << 4;
}

void TestNalUnits::roundTrip()
{
    QFETCH(QList<QByteArray>, units);
    QFETCH(int, lengthSize);
    const QByteArray joined = NalUnits::join(units, lengthSize);
    QCOMPARE(NalUnits::split(joined, lengthSize), units);
    // From one framing to the other and back, as a copy between containers does.
    const int other = lengthSize == 0 ? 4 : 0;
    QCOMPARE(NalUnits::join(NalUnits::split(NalUnits::join(units, other), other), lengthSize),
             joined);
}

void TestNalUnits::split_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("lengthSize");
    QTest::addColumn<QList<QByteArray>>("units");
    QTest::newRow("empty input") << QByteArray() << 0 << QList<QByteArray> {};
    QTest::newRow("three-byte start codes") << hex("0000016742000001") + hex("68ce") << 0
                                            << QList<QByteArray> { hex("6742"), hex("68ce") };
    QTest::newRow("start codes back to back, no empty unit")
        << hex("00000001000000016742") << 0 << QList<QByteArray> { hex("6742") };
    QTest::newRow("trailing start code")
        << hex("0000000167420000000001") << 0 << QList<QByteArray> { hex("6742") };
    QTest::newRow("no start code") << hex("6742") << 0 << QList<QByteArray> {};
    QTest::newRow("length 0 skipped")
        << hex("000000000000000267") + hex("42") << 4 << QList<QByteArray> { hex("6742") };
    QTest::newRow("unit past the end cut at the end")
        << hex("000567420a") << 2 << QList<QByteArray> { hex("67420a") };
    QTest::newRow("prefix cut short")
        << hex("0002674200") << 2 << QList<QByteArray> { hex("6742") };
}

void TestNalUnits::split()
{
    QFETCH(QByteArray, data);
    QFETCH(int, lengthSize);
    QFETCH(QList<QByteArray>, units);
    QCOMPARE(NalUnits::split(data, lengthSize), units);
}

void TestNalUnits::emulation_data()
{
    QTest::addColumn<QByteArray>("rbsp");
    QTest::addColumn<QByteArray>("unit");
    QTest::newRow("nothing to escape") << hex("6742c01e") << hex("6742c01e");
    QTest::newRow("00 00 00") << hex("65000000ff") << hex("6500000300ff");
    QTest::newRow("00 00 01") << hex("65000001ff") << hex("6500000301ff");
    QTest::newRow("00 00 02") << hex("65000002ff") << hex("6500000302ff");
    QTest::newRow("00 00 03") << hex("65000003ff") << hex("6500000303ff");
    QTest::newRow("00 00 04 stays") << hex("65000004ff") << hex("65000004ff");
    QTest::newRow("four zeros") << hex("6500000000ff") << hex("650000030000ff");
    QTest::newRow("zeros at the end") << hex("650000") << hex("65000003");
}

void TestNalUnits::emulation()
{
    QFETCH(QByteArray, rbsp);
    QFETCH(QByteArray, unit);
    QCOMPARE(NalBits::fromRbsp(rbsp), unit);
    QCOMPARE(NalBits::toRbsp(unit), rbsp);
    // No start code can appear inside a unit written, so Annex B splits it back whole.
    QCOMPARE(NalUnits::split(NalUnits::join({ unit, unit }, 0), 0),
             (QList<QByteArray> { unit, unit }));
}

void TestNalUnits::renamedIds_data()
{
    QTest::addColumn<bool>("hevc");
    QTest::addColumn<QByteArray>("pps");
    QTest::addColumn<int>("ppsId");
    QTest::addColumn<int>("spsId");
    const QByteArray avc = hex("68ce3c80");
    const QByteArray hevc = hex("4401c172b46240");
    for (const auto &[pps, sps] : { std::pair { 0, 0 }, { 1, 31 }, { 255, 7 }, { 200, 0 } })
        QTest::addRow("H.264 PPS %d on SPS %d", pps, sps) << false << avc << pps << sps;
    for (const auto &[pps, sps] : { std::pair { 0, 0 }, { 63, 15 }, { 5, 1 } })
        QTest::addRow("HEVC PPS %d on SPS %d", pps, sps) << true << hevc << pps << sps;
}

void TestNalUnits::renamedIds()
{
    QFETCH(bool, hevc);
    QFETCH(QByteArray, pps);
    QFETCH(int, ppsId);
    QFETCH(int, spsId);
    const auto rename = [hevc](const QByteArray &u, int p, int s) {
        return hevc ? NalRewrite::renameHevcPps(u, p, s) : NalRewrite::renameH264Pps(u, p, s);
    };
    const QByteArray renamed = rename(pps, ppsId, spsId);
    QVERIFY(!renamed.isEmpty());
    QCOMPARE(hevc ? NalRewrite::hevcParameterSetId(renamed) : NalUnits::h264PpsId(renamed), ppsId);
    if (!hevc)
        QCOMPARE(NalRewrite::parseH264Pps(renamed).spsId, spsId);
    // Everything after the ids is kept bit for bit: renamed back, the unit is the original.
    QCOMPARE(rename(renamed, 0, 0), pps);
}

// What the first bytes of an MPEG-2 or MPEG-4 part 2 picture say: whether the decoder headers
// come with it (else a copied key frame needs the source's in front), and whether the user
// data declares packed B-frames.
void TestNalUnits::streamHeaders_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("lacksHeader");
    QTest::addColumn<bool>("packed");
    const int mpeg4 = AV_CODEC_ID_MPEG4;
    const QByteArray vol = hex("00000120088400");
    const QByteArray vop = hex("000001b61061");
    QTest::newRow("MPEG-4 visual object sequence")
        << mpeg4 << hex("000001b0f5") + vop << false << false;
    QTest::newRow("MPEG-4 video object and layer")
        << mpeg4 << hex("0000010100") + vol << false << false;
    QTest::newRow("MPEG-4 group of VOPs only")
        << mpeg4 << hex("000001b3001007") + vop << true << false;
    QTest::newRow("MPEG-4 VOP only") << mpeg4 << vop << true << false;
    QTest::newRow("DivX packed") << mpeg4 << vol + hex("000001b2") + "DivX503b1393p" + vop << false
                                 << true;
    QTest::newRow("DivX not packed")
        << mpeg4 << vol + hex("000001b2") + "DivX503b1393" + vop << false << false;
    QTest::newRow("XviD") << mpeg4 << vol + hex("000001b2") + "XviD0069" + vop << false << false;
    QTest::newRow("short packet") << mpeg4 << hex("0000") << true << false;
    const int mpeg2 = AV_CODEC_ID_MPEG2VIDEO;
    QTest::newRow("MPEG-2 sequence header") << mpeg2 << hex("000001b31400") << false << false;
    QTest::newRow("MPEG-2 picture only") << mpeg2 << hex("0000010000") << true << false;
    QTest::newRow("VP9 needs nothing")
        << int(AV_CODEC_ID_VP9) << hex("8249834200") << false << false;
    // AV1 units with size fields: a sequence header (type 1), a frame (6).
    const int av1 = AV_CODEC_ID_AV1;
    QTest::newRow("AV1 sequence header and key frame")
        << av1 << hex("0a020000") + hex("320110") << false << false;
    QTest::newRow("AV1 key frame only") << av1 << hex("320110") << true << false;
    QTest::newRow("AV1 cut short") << av1 << hex("0a05") << true << false;
}

// Where an AV1 copy may follow new frames (a key frame shown at once), and the source's
// sequence header put in front of the first copied frame: after the temporal delimiter, never
// twice.
void TestNalUnits::av1Starts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("shownKey");
    QTest::addColumn<QByteArray>("joined"); // with the sequence header 0a020000
    const QByteArray header = hex("0a020000");
    const QByteArray key = hex("320110"); // show_existing 0, key frame, shown
    QTest::newRow("key frame") << key << true << header + key;
    QTest::newRow("after a temporal delimiter")
        << hex("1200") + key << true << hex("1200") + header + key;
    QTest::newRow("with its own header") << header + key << true << header + key;
    QTest::newRow("extension byte, key frame header")
        << hex("1e00011058") << true << header + hex("1e00011058");
    QTest::newRow("inter frame") << hex("320130") << false << header + hex("320130");
    QTest::newRow("key frame shown later") << hex("320100") << false << header + hex("320100");
    QTest::newRow("frame shown again") << hex("1a0180") << false << header + hex("1a0180");
    QTest::newRow("size past the end") << hex("3205") + key << false << header + hex("3205") + key;
}

void TestNalUnits::av1Starts()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, shownKey);
    QFETCH(QByteArray, joined);
    QCOMPARE(Av1Obus::startsShownKeyFrame(data), shownKey);
    QCOMPARE(Av1Obus::withSequenceHeader(data, hex("0a020000")), joined);
    if (shownKey)
        QCOMPARE(Av1Obus::sequenceHeader(joined), hex("0a020000"));
    QCOMPARE(Av1Obus::configSequenceHeader(hex("81000c00") + hex("0a020000")), hex("0a020000"));
}

void TestNalUnits::streamHeaders()
{
    QFETCH(int, codec);
    QFETCH(QByteArray, data);
    QFETCH(bool, lacksHeader);
    QFETCH(bool, packed);
    AVPacket packet {};
    packet.data = reinterpret_cast<uint8_t *>(data.data());
    packet.size = int(data.size());
    QCOMPARE(ExactCodecs::lacksInBandHeader(AVCodecID(codec), &packet), lacksHeader);
    QCOMPARE(ExactCodecs::packedBitstream(data), packed);
}

void TestNalUnits::av1SequenceHeaders_data()
{
    // Sequence header units as encoders write them; fields: some of what they say; count: of
    // the fields read and inferred (0: refused); differs: the fields that differ from the
    // first row's header.
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("differs");
    QTest::newRow("libaom, 320x180")
        << hex("0a0b000000043cfeccdaf90040")
        << "seq_profile=0 max_frame_width_minus_1=319 max_frame_height_minus_1=179 "
           "enable_masked_compound=1 enable_interintra_compound=0 order_hint_bits_minus_1=6 "
           "enable_cdef=1 enable_restoration=0 high_bitdepth=0"
        << 38 << "";
    QTest::newRow("SVT-AV1, 320x180: two more compound tools")
        << hex("0a0b000000043cfeccfbf90040") << "enable_interintra_compound=1 enable_jnt_comp=1"
        << 38 << "enable_interintra_compound, enable_jnt_comp";
    QTest::newRow("10 bits with a colour description")
        << hex("0a0d00000002afff9b5f2a02020208")
        << "high_bitdepth=1 color_description_present_flag=1 color_primaries=1 "
           "matrix_coefficients=1 max_frame_width_minus_1=63"
        << 41 << "";
    QTest::newRow("4:4:4 (profile 1): no chroma position")
        << hex("0a0a20000002afff9b5f2040") << "seq_profile=1 color_range=0" << 36 << "";
    QTest::newRow("reduced still picture: tools inferred")
        << hex("0a0618157ffdb008")
        << "still_picture=1 reduced_still_picture_header=1 enable_order_hint=0 "
           "seq_force_integer_mv=2 enable_restoration=1"
        << 31 << "";
    QTest::newRow("cut short") << hex("0a0b000000043cfecc") << "" << 0 << "";
    QTest::newRow("a temporal delimiter") << hex("1200") << "" << 0 << "";
}

void TestNalUnits::av1SequenceHeaders()
{
    QFETCH(QByteArray, unit);
    QFETCH(QString, fields);
    QFETCH(int, count);
    QFETCH(QString, differs);
    const QList<Av1Obus::Field> parsed = Av1Obus::sequenceHeaderFields(unit);
    QCOMPARE(int(parsed.size()), count);
    for (const QString &pair : fields.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList nv = pair.split(QLatin1Char('='));
        QCOMPARE(Av1Obus::fieldValue(parsed, nv[0].toLatin1().constData(), 99), nv[1].toUInt());
    }
    if (count == 0)
        return;
    const QList<Av1Obus::Field> first
        = Av1Obus::sequenceHeaderFields(hex("0a0b000000043cfeccdaf90040"));
    if (parsed.size() == first.size())
        QCOMPARE(Av1Obus::differingFields(first, parsed).join(QStringLiteral(", ")), differs);
    // The header stands in for another in a temporal unit, wherever that one stood.
    const QByteArray unitWithFrame
        = hex("1200") + hex("0a0b000000043cfeccfbf90040") + hex("320110");
    QCOMPARE(Av1Obus::replaceSequenceHeader(unitWithFrame, unit),
             hex("1200") + unit + hex("320110"));
}

QTEST_GUILESS_MAIN(TestNalUnits)
#include "tst_nalunits.moc"
