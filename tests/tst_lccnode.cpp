// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LccNode.h"

#include <QSignalSpy>
#include <QtTest>

using namespace OpenLcb;

namespace {

constexpr NodeId kNode = 0x02010D000003ULL;

QString hex3(Alias a)
{
    return QStringLiteral("%1").arg(a, 3, 16, QLatin1Char('0')).toUpper();
}

// The node with what it sends recorded as GridConnect text.
struct Rig
{
    LccNode node{kNode, NodeInformation{"Quorandel", "Clock", "PC", "1.40", "Hall 2", "master"}};
    QByteArrayList sent;
    Rig()
    {
        node.setSender([this](const CanFrame &f) { sent << GridConnect::text(f); });
    }
    // ":X19490AAAN;" from a peer
    void hear(const QByteArray &text)
    {
        CanFrame f;
        if (!GridConnect::parse(text, &f))
            qFatal("bad test frame %s", text.constData());
        node.receive(f);
    }
    QByteArrayList take()
    {
        QByteArrayList out = sent;
        sent.clear();
        return out;
    }
    QByteArray a() const { return hex3(node.alias()).toLatin1(); }
    bool login()
    {
        node.linkUp();
        return QTest::qWaitFor([this] { return node.isInitialized(); }, 2000);
    }
};

QByteArrayList expectLogin(Alias alias)
{
    const QByteArray a = hex3(alias).toLatin1();
    return {":X17020" + a + "N;", ":X1610D" + a + "N;", ":X15000" + a + "N;", ":X14003" + a + "N;",
            ":X10700" + a + "N;", ":X10701" + a + "N02010D000003;", ":X19100" + a + "N02010D000003;"};
}

}  // namespace

// The node's obligations, frame by frame, without a network: what it sends
// for each frame a peer sends.
class TstLccNode : public QObject
{
    Q_OBJECT
private slots:
    // Check IDs, at least 200 ms of silence, Reserve ID, AMD, Initialization Complete.
    void login()
    {
        Rig rig;
        QSignalSpy initialized(&rig.node, &LccNode::initialized);
        QElapsedTimer clock;
        clock.start();
        rig.node.linkUp();
        QCOMPARE(rig.sent.size(), 4);
        QVERIFY(QTest::qWaitFor([&] { return rig.node.isInitialized(); }, 2000));
        QVERIFY(clock.elapsed() >= LccNode::ReserveWaitMs);
        QCOMPARE(rig.take(), expectLogin(AliasGenerator(kNode).alias()));
        QCOMPARE(initialized.count(), 1);
    }

    // Nothing goes out before the link is up, nor after it went down.
    void silentWhileDown()
    {
        Rig rig;
        rig.hear(":X19490AAAN;");
        rig.node.sendGlobal(EventReport, QByteArray(8, 0));
        QVERIFY(rig.sent.isEmpty());
        QVERIFY(rig.login());
        rig.node.linkDown();
        rig.take();
        rig.hear(":X19490AAAN;");
        rig.node.sendGlobal(EventReport, QByteArray(8, 0));
        QVERIFY(rig.sent.isEmpty());
    }

    // A frame from the alias being reserved: the next alias is tried from the start.
    void collisionWhileReserving()
    {
        Rig rig;
        rig.node.linkUp();
        const Alias first = rig.node.alias();
        rig.take();
        rig.hear(":X10700" + hex3(first).toLatin1() + "N;");
        const Alias second = rig.node.alias();
        QVERIFY(second != first);
        QCOMPARE(second, [] { AliasGenerator g(kNode); return g.next(); }());
        QVERIFY(QTest::qWaitFor([&] { return rig.node.isInitialized(); }, 2000));
        QCOMPARE(rig.take(), expectLogin(second));
    }

    // Once held: a Check ID is answered with Reserve ID; any other frame
    // from the alias makes the node give it up (AMR) and log in again.
    void collisionWhenHeld()
    {
        Rig rig;
        QVERIFY(rig.login());
        const Alias first = rig.node.alias();
        rig.take();
        rig.hear(":X17123" + rig.a() + "N;");  // the first and the last of the four Check IDs
        rig.hear(":X14456" + rig.a() + "N;");
        QCOMPARE(rig.take(), QByteArrayList(2, ":X10700" + rig.a() + "N;"));
        QVERIFY(rig.node.isInitialized());

        QSignalSpy initialized(&rig.node, &LccNode::initialized);
        rig.hear(":X19170" + rig.a() + "N050101012200;");
        QCOMPARE(rig.sent.value(0), ":X10703" + hex3(first).toLatin1() + "N02010D000003;");
        QVERIFY(!rig.node.isInitialized());
        QVERIFY(rig.node.alias() != first);
        QVERIFY(initialized.wait(2000));
        QCOMPARE(rig.take().mid(1), expectLogin(rig.node.alias()));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("heard");
        QTest::addColumn<QByteArrayList>("answer");  // "@" stands for the node's alias
        QTest::newRow("AME for all") << QByteArray(":X10702AAAN;") << QByteArrayList{":X10701@N02010D000003;"};
        QTest::newRow("AME for it") << QByteArray(":X10702AAAN02010D000003;") << QByteArrayList{":X10701@N02010D000003;"};
        QTest::newRow("AME for another") << QByteArray(":X10702AAAN02010D000004;") << QByteArrayList{};
        QTest::newRow("Verify global") << QByteArray(":X19490AAAN;") << QByteArrayList{":X19170@N02010D000003;"};
        QTest::newRow("Verify global, its ID") << QByteArray(":X19490AAAN02010D000003;")
                                               << QByteArrayList{":X19170@N02010D000003;"};
        QTest::newRow("Verify global, another ID") << QByteArray(":X19490AAAN02010D000004;") << QByteArrayList{};
        QTest::newRow("Verify addressed") << QByteArray(":X19488AAAN0@;") << QByteArrayList{":X19170@N02010D000003;"};
        QTest::newRow("Verify addressed to another") << QByteArray(":X19488AAAN0BBB;") << QByteArrayList{};
        QTest::newRow("PIP") << QByteArray(":X19828AAAN0@;") << QByteArrayList{":X19668@N0AAA041000000000;"};
        QTest::newRow("PIP to another") << QByteArray(":X19828AAAN0BBB;") << QByteArrayList{};
        QTest::newRow("SNIP") << QByteArray(":X19DE8AAAN0@;")
                              << QByteArrayList{":X19A08@N1AAA0451756F7261;", ":X19A08@N3AAA6E64656C0043;",
                                                ":X19A08@N3AAA6C6F636B0050;", ":X19A08@N3AAA4300312E3430;",
                                                ":X19A08@N3AAA000248616C6C;", ":X19A08@N3AAA2032006D6173;",
                                                ":X19A08@N2AAA74657200;"};
        QTest::newRow("datagram OK is never refused") << QByteArray(":X19A28AAAN0@;") << QByteArrayList{};
        QTest::newRow("Traction: OIR") << QByteArray(":X195EBAAAN0@00;")
                                       << QByteArrayList{":X19068@N0AAA104305EB;"};
        QTest::newRow("Memory config stream: OIR") << QByteArray(":X19CC8AAAN0@;")
                                                   << QByteArrayList{":X19068@N0AAA10430CC8;"};
        QTest::newRow("OIR first frame: none yet") << QByteArray(":X19CC8AAAN1@;") << QByteArrayList{};
        QTest::newRow("OIR last frame") << QByteArray(":X19CC8AAAN2@;") << QByteArrayList{":X19068@N0AAA10430CC8;"};
        QTest::newRow("OIR is never refused") << QByteArray(":X19068AAAN0@10430CC8;") << QByteArrayList{};
        QTest::newRow("TDE is never refused") << QByteArray(":X190A8AAAN0@1000;") << QByteArrayList{};
        QTest::newRow("datagram") << QByteArray(":X1A@AAAN2001;") << QByteArrayList{":X19A48@N0AAA1040;"};
        QTest::newRow("datagram's first frame") << QByteArray(":X1B@AAAN2001;") << QByteArrayList{};
        QTest::newRow("datagram's last frame") << QByteArray(":X1D@AAAN2001;") << QByteArrayList{":X19A48@N0AAA1040;"};
        QTest::newRow("datagram to another") << QByteArray(":X1ABBBAAAN2001;") << QByteArrayList{};
        QTest::newRow("another's event") << QByteArray(":X195B4AAAN0101000001000000;") << QByteArrayList{};
        QTest::newRow("another's AMD") << QByteArray(":X10701AAAN050101012200;") << QByteArrayList{};
        QTest::newRow("stream data") << QByteArray(":X1F@AAAN01;") << QByteArrayList{};
    }
    void answers()
    {
        QFETCH(QByteArray, heard);
        QFETCH(QByteArrayList, answer);
        Rig rig;
        QVERIFY(rig.login());
        rig.take();
        rig.hear(QByteArray(heard).replace("@", rig.a()));
        for (QByteArray &line : answer)
            line.replace("@", rig.a());
        QCOMPARE(rig.take(), answer);
    }

    void duplicateNodeIdToldOnce()
    {
        Rig rig;
        QVERIFY(rig.login());
        QSignalSpy problem(&rig.node, &LccNode::problem);
        rig.hear(":X10701AAAN02010D000003;");
        rig.hear(":X10701AAAN02010D000003;");
        QCOMPARE(problem.count(), 1);
        QVERIFY(problem[0][0].toString().contains("02.01.0D.00.00.03"));
    }
};

QTEST_GUILESS_MAIN(TstLccNode)
#include "tst_lccnode.moc"
