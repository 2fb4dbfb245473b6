// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/GridConnect.h"
#include "net/OpenLcbCan.h"
#include "publish/BroadcastTime.h"

#include <QtTest>

#include <set>

using namespace OpenLcb;

namespace {

QByteArray texts(const QList<CanFrame> &frames)
{
    QByteArrayList out;
    for (const CanFrame &f : frames)
        out << GridConnect::text(f);
    return out.join(' ');
}

constexpr NodeId kNode = 0x02010D000003ULL;  // the standards' own example
constexpr quint64 kDefaultClock = 0x010100000100ULL;

}  // namespace

// Plain functions against the vectors of the standards and the reference
// implementations, and the frame reader against what a hub may send.
class TstLccFrames : public QObject
{
    Q_OBJECT
private slots:
    void encodeUpperCase()
    {
        QCOMPARE(GridConnect::encode({0x195B422A, QByteArray::fromHex("010100000100f002")}),
                 QByteArray(":X195B422AN010100000100F002;\n"));
    }

    // The alias reservation of node 02.01.0D.00.00.03 with alias 0x555, as the
    // reference implementation's tests give it, then AMD and Initialization Complete.
    void aliasReservationVector()
    {
        QList<CanFrame> frames = checkIds(kNode, 0x555);
        frames << reserveId(0x555) << aliasMapDefinition(0x555, kNode)
               << globalMessage(InitializationComplete, 0x555, nodeIdBytes(kNode));
        QCOMPARE(texts(frames), QByteArray(":X17020555N; :X1610D555N; :X15000555N; :X14003555N; :X10700555N; "
                                           ":X10701555N02010D000003; :X19100555N02010D000003;"));
        QCOMPARE(GridConnect::text(aliasMapReset(0x555, kNode)), QByteArray(":X10703555N02010D000003;"));
    }

    // The reference Broadcast Time server's start-up for the default clock
    // from alias 0x22A (its clock at rate 0, 00:00, 1 January 1970).
    void referenceServerStartUp()
    {
        const QDate date(1970, 1, 1);
        QList<CanFrame> frames;
        frames << globalMessage(ProducerRangeIdentified, 0x22A, eventIdBytes(BroadcastTime::event(kDefaultClock, 0xFFFF)))
               << globalMessage(ConsumerRangeIdentified, 0x22A, eventIdBytes(BroadcastTime::event(kDefaultClock, 0x8000)));
        for (quint16 suffix : {quint16(BroadcastTime::Stop), BroadcastTime::rateSuffix(0), BroadcastTime::yearSuffix(date),
                               BroadcastTime::dateSuffix(date), BroadcastTime::timeSuffix(0)})
            frames << globalMessage(ProducerIdentifiedValid, 0x22A, eventIdBytes(BroadcastTime::event(kDefaultClock, suffix)));
        QCOMPARE(texts(frames), QByteArray(":X1952422AN010100000100FFFF; :X194A422AN0101000001008000; "
                                           ":X1954422AN010100000100F001; :X1954422AN0101000001004000; "
                                           ":X1954422AN01010000010037B2; :X1954422AN0101000001002101; "
                                           ":X1954422AN0101000001000000;"));
        // Its time and rate events as it sends them later.
        QCOMPARE(GridConnect::text(globalMessage(EventReport, 0x22A, eventIdBytes(BroadcastTime::event(
                                                                          kDefaultClock, BroadcastTime::rateSuffix(2000))))),
                 QByteArray(":X195B422AN01010000010047D0;"));
    }

    void suffixes_data()
    {
        QTest::addColumn<int>("suffix");
        QTest::addColumn<int>("expected");
        QTest::newRow("rate -0.25") << int(BroadcastTime::rateSuffix(-1)) << 0x4FFF;
        QTest::newRow("time 23:59") << int(BroadcastTime::timeSuffix(23, 59)) << 0x173B;
        QTest::newRow("time of 86399 s") << int(BroadcastTime::timeSuffix(86399)) << 0x173B;
        QTest::newRow("date 31 Dec") << int(BroadcastTime::dateSuffix(QDate(2024, 12, 31))) << 0x2C1F;
        QTest::newRow("year 4095") << int(BroadcastTime::yearSuffix(QDate(4095, 1, 1))) << 0x3FFF;
    }
    void suffixes()
    {
        QFETCH(int, suffix);
        QFETCH(int, expected);
        QCOMPARE(suffix, expected);
    }

    void decode_data()
    {
        using D = BroadcastTime::Decoded;
        QTest::addColumn<int>("suffix");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::newRow("set time 12:30") << 0x8C1E << int(D::SetTime) << 12 << 30;
        QTest::newRow("set time 24:00") << 0x9800 << int(D::Unknown) << 0 << 0;
        QTest::newRow("set time 10:60") << 0x8A3C << int(D::Unknown) << 0 << 0;
        QTest::newRow("report time 06:00") << 0x0600 << int(D::ReportTime) << 6 << 0;
        QTest::newRow("set rate 8:1") << 0xC020 << int(D::SetRate) << 32 << 0;
        QTest::newRow("set rate -2") << 0xCFF8 << int(D::SetRate) << -8 << 0;
        QTest::newRow("set date 2/29") << 0xA21D << int(D::SetDate) << 2 << 29;
        QTest::newRow("set date 13/1") << 0xAD01 << int(D::Unknown) << 0 << 0;
        QTest::newRow("set year 1999") << 0xB7CF << int(D::SetYear) << 1999 << 0;
        QTest::newRow("query") << 0xF000 << int(D::QueryClock) << 0 << 0;
        QTest::newRow("stop") << 0xF001 << int(D::StopClock) << 0 << 0;
        QTest::newRow("start") << 0xF002 << int(D::StartClock) << 0 << 0;
        QTest::newRow("rollover") << 0xF003 << int(D::RollDate) << 0 << 0;
        QTest::newRow("F004") << 0xF004 << int(D::Unknown) << 0 << 0;
        QTest::newRow("5000") << 0x5000 << int(D::Unknown) << 0 << 0;
    }
    void decode()
    {
        QFETCH(int, suffix);
        QFETCH(int, kind);
        QFETCH(int, a);
        QFETCH(int, b);
        const BroadcastTime::Decoded d = BroadcastTime::decode(quint16(suffix));
        QCOMPARE(int(d.kind), kind);
        if (d.kind == BroadcastTime::Decoded::SetTime || d.kind == BroadcastTime::Decoded::ReportTime)
            QCOMPARE(d.hour * 100 + d.minute, a * 100 + b);
        if (d.kind == BroadcastTime::Decoded::SetRate)
            QCOMPARE(d.quarters, a);
        if (d.kind == BroadcastTime::Decoded::SetDate)
            QCOMPARE(d.month * 100 + d.day, a * 100 + b);
        if (d.kind == BroadcastTime::Decoded::SetYear)
            QCOMPARE(d.year, a);
    }

    // The first two bytes of an addressed message: framing flags and the
    // destination alias; six payload bytes a frame.
    void addressedFraming()
    {
        QCOMPARE(texts(addressedMessage(ProtocolSupportReply, 0x555, 0x123, QByteArray::fromHex("041000000000"))),
                 QByteArray(":X19668555N0123041000000000;"));
        QCOMPARE(texts(addressedMessage(SimpleNodeInfoReply, 0x555, 0xABC, QByteArray("0123456789ABCDEFGHIJ"))),
                 QByteArray(":X19A08555N1ABC303132333435; :X19A08555N3ABC363738394142; "
                            ":X19A08555N3ABC434445464748; :X19A08555N2ABC494A;"));
        QCOMPARE(addressedDestination(QByteArray::fromHex("3ABC")), Alias(0xABC));
        QCOMPARE(addressedFlags(QByteArray::fromHex("3ABC")), 3);
        QCOMPARE(GridConnect::text(datagramRejected(0x555, 0x123, ErrorNotImplemented)),
                 QByteArray(":X19A48555N01231040;"));
    }

    void simpleNodeInformation()
    {
        NodeInformation info{"Quorandel", "Clock", "PC", "1.40", "Hall 2", "the master"};
        QCOMPARE(OpenLcb::simpleNodeInformation(info),
                 QByteArray("\x04Quorandel\0Clock\0PC\0" "1.40\0\x02Hall 2\0the master\0", 44));
        // Every field cut to its length; the longest reply is 253 bytes.
        const QString longText(100, u'x');
        const QByteArray full = OpenLcb::simpleNodeInformation({longText, longText, longText, longText, longText, longText});
        QCOMPARE(full.size(), 1 + 41 + 41 + 21 + 21 + 1 + 63 + 64);
        QCOMPARE(utf8Cut(QString(3, QChar(0x20AC)), 7), QString(2, QChar(0x20AC)).toUtf8());
    }

    void dottedIds()
    {
        quint64 id = 0;
        QVERIFY(parseDotted(QStringLiteral("02.01.0d.00.00.03"), 6, &id));
        QCOMPARE(id, kNode);
        QCOMPARE(dotted(kNode), QStringLiteral("02.01.0D.00.00.03"));
        for (const char *bad : {"02.01.0D.00.00", "02.01.0D.00.00.03.04", "02.01.0D.00.00.G3", "2.1.D.0.0.3",
                                "00.00.00.00.00.00", "", "02-01-0D-00-00-03"})
            QVERIFY2(!parseDotted(QString::fromLatin1(bad), 6, &id), bad);
    }

    // The standard's generator: x' = 513 x + 0x1B0CA37A4BA9 mod 2^48, the
    // alias the XOR of the state's four 12-bit parts; never 0, and all 4095
    // aliases before one comes back.
    void aliasGenerator()
    {
        QCOMPARE(AliasGenerator::step(0), 0x1B0CA37A4BA9ULL);
        QCOMPARE(AliasGenerator::fold(0x123456789ABCULL), Alias(0x123 ^ 0x456 ^ 0x789 ^ 0xABC));
        AliasGenerator generator(kNode);
        QCOMPARE(generator.alias(), Alias(0x020 ^ 0x10D ^ 0x000 ^ 0x003));
        std::set<Alias> seen{generator.alias()};
        for (int i = 0; i < 200; ++i) {
            const Alias a = generator.next();
            QVERIFY(a != 0 && a <= 0xFFF);
            seen.insert(a);
        }
        QVERIFY(seen.size() > 180);  // a collision rarely gives the same alias again
    }

    // All at once and byte by byte alike.
    void readsWhatHubsSend()
    {
        const QByteArray wire = ":x19170aaan02010d000003;\r\n:X195B422AN010100000100F002;\n\n :X10700555N;\r:X1N;";
        GridConnect::Reader whole, bytewise;
        QList<CanFrame> pieces;
        for (char c : wire)
            pieces += bytewise.feed(QByteArray(1, c));
        const QByteArray want = ":X19170AAAN02010D000003; :X195B422AN010100000100F002; :X10700555N; :X00000001N;";
        QCOMPARE(texts(whole.feed(wire)), want);
        QCOMPARE(texts(pieces), want);
        QCOMPARE(whole.skipped() + bytewise.skipped(), 0);
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("bad");
        QTest::newRow("no ;") << QByteArray(":X19490AAAN\n");
        QTest::newRow("odd hex") << QByteArray(":X19490AAAN123;");
        QTest::newRow("9 bytes") << QByteArray(":X19490AAAN010203040506070809;");
        QTest::newRow("not hex") << QByteArray(":X19490AAANZZ;");
        QTest::newRow("header 9 digits") << QByteArray(":X119490AAAN;");
        QTest::newRow("header beyond 29 bits") << QByteArray(":X20000000N;");
        QTest::newRow("no N") << QByteArray(":X19490AAA;");
        QTest::newRow("standard frame") << QByteArray(":S123N;");
        QTest::newRow("remote frame") << QByteArray(":X19490AAAR;");
        QTest::newRow("empty header") << QByteArray(":XN;");
        QTest::newRow("garbage") << QByteArray("hello;");
        QTest::newRow("binary") << QByteArray("\x00\xff\x80;\x01", 5);
        QTest::newRow("10 KiB line") << ":X" + QByteArray(10 * 1024, 'A') + ";\n";
        QTest::newRow("space inside") << QByteArray(":X19490 AAAN;");
    }
    // Skipped and counted; the good frames on either side come through, and
    // the reader never holds more than one frame's text.
    void malformed()
    {
        QFETCH(QByteArray, bad);
        GridConnect::Reader reader;
        QList<CanFrame> frames = reader.feed(":X19490AAAN;");
        for (qsizetype at = 0; at < bad.size(); at += 97) {
            frames += reader.feed(bad.mid(at, 97));
            QVERIFY(reader.pending() <= GridConnect::MaxFrameLength);
        }
        frames += reader.feed(":X19490BBBN;");
        QCOMPARE(texts(frames), QByteArray(":X19490AAAN; :X19490BBBN;"));
        QVERIFY(reader.skipped() >= 1);
    }
};

QTEST_APPLESS_MAIN(TstLccFrames)
#include "tst_lccframes.moc"
