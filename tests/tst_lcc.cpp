// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeHub.h"

#include "clock/ClockEngine.h"
#include "publish/BroadcastTimeProducer.h"

#include <QSignalSpy>
#include <QtTest>

using namespace OpenLcb;

namespace {

constexpr NodeId kNode = 0x02010D000003ULL;  // the standards' own example node
const QByteArray kId = "02010D000003";
const QString kLost = QStringLiteral("%1: %2; trying again, first in 1 s, at most every 30 s");

QByteArray hex3(Alias a) { return QByteArray::number(a, 16).rightJustified(3, '0').toUpper(); }

// Four Check IDs, Reserve ID, AMD, Initialization Complete.
QByteArrayList login(const QByteArray &a)
{
    return {":X17020" + a + "N;", ":X1610D" + a + "N;", ":X15000" + a + "N;", ":X14003" + a + "N;",
            ":X10700" + a + "N;", ":X10701" + a + "N" + kId + ";", ":X19100" + a + "N" + kId + ";"};
}


// The producer of the default clock (idle at 00:00, 1:1, 1 January 1970) at
// its hub, the clock wired as the program wires it.
struct Rig
{
    FakeHub hub;
    ClockEngine clock;
    std::unique_ptr<BroadcastTimeProducer> producer;
    QStringList problems, notices, notes;

    explicit Rig(bool control = false, bool reading = true) : hub(reading)
    {
        hub.listen();
        ExtensionSettings::Lcc s;
        s.hubHost = QStringLiteral("127.0.0.1");
        s.hubPort = hub.port();
        s.nodeId = kNode;
        s.control = control;
        producer = std::make_unique<BroadcastTimeProducer>(s, clock);
        auto *p = producer.get();
        clock.addFollower(*p);
        QObject::connect(p, &BroadcastTimeProducer::problem, [this](const QString &t) { problems << t; });
        QObject::connect(p, &BroadcastTimeProducer::notice, [this](const QString &t) { notices << t; });
        QObject::connect(p, &BroadcastTimeProducer::controlNote, [this](const QByteArray &peer, const QByteArray &what, bool refused) {
            notes << QString::fromLatin1((refused ? "! " : "") + peer + ": " + what);
        });
    }
    // Frames written with "@" for the node's alias and "#" for its ID; four
    // hex digits stand for an event of the default clock.
    QByteArrayList frames(const QByteArray &tokens, const QByteArray &event = ":X195B4@N010100000100") const
    {
        QByteArrayList out;
        for (QByteArray t : tokens.split(' '))
            if (!t.isEmpty())
                out << (t.startsWith(':') ? t : QByteArray(event + t + ';')).replace("@", hex3(producer->node().alias())).replace("#", kId);
        return out;
    }
    bool loggedIn()
    {
        producer->start();
        return hub.waitFor(frames("0000", ":X19544@N010100000100")[0], int(hub.texts.size())) >= 0;
    }
    // What the hub hears from `from` on, once `count` frames came and a little after.
    QByteArrayList heard(int from, int count)
    {
        (void)QTest::qWaitFor([&] { return hub.texts.size() >= from + count; }, 2000);
        QTest::qWait(100);
        return hub.texts.mid(from);
    }
    QString text(const QString &what) const { return QStringLiteral("LCC hub 127.0.0.1:%1 ").arg(hub.port()) + what; }
};

}  // namespace

// The LCC network: frames, the node's obligations, the Broadcast Time
// producer at a hub written here, and the hub's client when the hub vanishes,
// floods or never reads.
class TstLcc : public QObject
{
    Q_OBJECT
private slots:
    // Whole and byte by byte alike: the malformed is skipped, the frames around
    // it come through, and a frame being read holds at most a frame's length.
    // Node information is cut to its fields' lengths, UTF-8 kept whole.
    void reader()
    {
        QByteArray wire = ":x19170aaan02010d000003;\r\n\n :X1N;";
        QByteArrayList read{":X19170AAAN02010D000003;", ":X00000001N;"};
        for (const QByteArray &bad : {QByteArray(":X19490AAAN\n"), QByteArray(":X19490AAAN123;"), QByteArray(":X119490AAAN;"),
                                      QByteArray(":X19490AAAN010203040506070809;"), QByteArray(":X20000000N;"),
                                      QByteArray(":S123N;"), QByteArray(":X19490AAAR;"), QByteArray("hello;"),
                                      QByteArray("\x00\xff\x80;\x01", 5), ":X" + QByteArray(10 * 1024, 'A') + ";\n"}) {
            wire += bad + ":X19490AAAN;";
            read << ":X19490AAAN;";
        }
        const auto texts = [](const QList<CanFrame> &frames) {
            QByteArrayList out;
            for (const CanFrame &f : frames)
                out << GridConnect::text(f);
            return out;
        };
        GridConnect::Reader whole, bytewise;
        QList<CanFrame> pieces;
        for (char c : wire) {
            pieces += bytewise.feed(QByteArray(1, c));
            QVERIFY(bytewise.pending() <= GridConnect::MaxFrameLength);
        }
        QCOMPARE(texts(whole.feed(wire)), read);
        QCOMPARE(texts(pieces), read);
        const QString x(100, u'x');
        QCOMPARE(simpleNodeInformation({x, x, x, x, x, x}).size(), 1 + 41 + 41 + 21 + 21 + 1 + 63 + 64);
        QCOMPARE(utf8Cut(QString(3, QChar(0x20AC)), 7), QString(2, QChar(0x20AC)).toUtf8());
    }

    // The standard's generator gives the example node 12E, then 04B. Reserve
    // ID 200 ms after the Check IDs; a Check ID for the alias held is answered,
    // any other frame from it, or from the alias being reserved, takes the
    // alias away. Another node with its ID is told once.
    void nodeLogin()
    {
        LccNode node(kNode, {"Quorandel", "Clock", "PC", "1.40", "Hall 2", "master"});
        QByteArrayList sent;
        node.setSender([&](const CanFrame &f) { sent << GridConnect::text(f); });
        const auto hear = [&](const QByteArray &wire) {
            for (const CanFrame &f : GridConnect::Reader().feed(QByteArray(wire).replace("@", hex3(node.alias()))))
                node.receive(f);
        };
        QSignalSpy problem(&node, &LccNode::problem);
        QElapsedTimer clock;
        clock.start();
        node.linkUp();
        QCOMPARE(sent, login("12E").mid(0, 4));
        QTRY_VERIFY_WITH_TIMEOUT(node.isInitialized(), 2000);
        QVERIFY(clock.elapsed() >= LccNode::ReserveWaitMs);
        QCOMPARE(sent, login("12E"));
        sent.clear();
        hear(":X1712312EN;:X1445612EN;:X1917012EN050101012200;");
        QCOMPARE(sent, QByteArrayList({":X1070012EN;", ":X1070012EN;", ":X1070312EN" + kId + ";"}) + login("04B").mid(0, 4));
        const QByteArray taken = hex3(node.alias());
        hear(":X10700@N;");
        QTRY_VERIFY_WITH_TIMEOUT(node.isInitialized(), 2000);
        QCOMPARE(sent.mid(7), login(hex3(node.alias())));
        QVERIFY(hex3(node.alias()) != taken);
        hear(":X10701AAAN" + kId + ";:X10701AAAN" + kId + ";");
        QCOMPARE(problem.count(), 1);
        sent.clear();
        hear(":X19DE8AAAN0@;");
        QCOMPARE(sent.join().replace(hex3(node.alias()), "@"), ":X19A08@N1AAA0451756F7261;:X19A08@N3AAA6E64656C0043;:X19A08@N3AAA6C6F636B0050;"
                                                               ":X19A08@N3AAA4300312E3430;:X19A08@N3AAA000248616C6C;:X19A08@N3AAA2032006D6173;"
                                                               ":X19A08@N2AAA74657200;");
    }

    // What the node and the producer answer to what they hear, control off
    // and on, the clock as the set events leave it, and the note of the first
    // refusal (the rest are counted).
    void answers_data()
    {
        QTest::addColumn<bool>("control");
        QTest::addColumn<QByteArray>("heard");
        QTest::addColumn<QByteArray>("told");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("note");
        const QString idle = QStringLiteral("Idle 1");
        const QByteArray ranges = " :X19524@N010100000100FFFF; :X194A4@N0101000001008000;";
        QTest::newRow("AME, Verify, PIP; the unknown refused, datagrams rejected, at the last frame") << false
            << QByteArray(":X10702AAAN; :X10702AAAN#; :X19490AAAN; :X19490AAAN#; :X19488AAAN0@; :X19828AAAN0@; :X195EBAAAN0@00; "
                          ":X19CC8AAAN1@; :X19CC8AAAN2@; :X1A@AAAN2001; :X1B@AAAN2001; :X1D@AAAN2001;")
            << QByteArray(":X10701@N#; :X10701@N#; :X19170@N#; :X19170@N#; :X19170@N#; :X19668@N0AAA041000000000; "
                          ":X19068@N0AAA104305EB; :X19068@N0AAA10430CC8; :X19A48@N0AAA1040; :X19A48@N0AAA1040;") << idle << QString();
        QTest::newRow("for others; never refused: OIR, TDE, Datagram OK") << false
            << QByteArray(":X10702AAAN02010D000004; :X19490AAAN02010D000004; :X19488AAAN0BBB; :X19828AAAN0BBB; :X1ABBBAAAN2001; "
                          ":X10701AAAN050101012200; :X1F@AAAN01; :X19968AAAN0BBB; :X198F4AAAN0101000001000000; "
                          ":X19914AAAN0101000001010000; :X195B4AAAN010100000101F000; :X19068AAAN0@10430CC8; :X190A8AAAN0@1000; :X19A28AAAN0@;")
            << QByteArray() << idle << QString();
        QTest::newRow("Identify Events, global and to it, Identify Producer and Consumer, Query") << false
            << QByteArray(":X19970AAAN; :X19968AAAN0@; :X19914AAAN0101000001000000; :X198F4AAAN010100000100C004; F000")
            << ranges + ranges + ranges + " :X19544@N010100000100F001; :X19544@N0101000001004004; :X19544@N01010000010037B2; "
                                          ":X19544@N0101000001002101; :X19544@N0101000001000000;" << idle << QString();
        QTest::newRow("off: start, time, rate") << false << QByteArray("F002 8C1E C020") << QByteArray("F001 0000 4004") << idle
                                                << "! refused: control from LCC is off ([lcc] control=false): start";
        QTest::newRow("7:1, 8.25:1") << true << QByteArray("C01C C021") << QByteArray("4004 4004") << idle
                                     << "! refused: not one of the speeds 1, 2, 3, 4, 5, 6 and 8:1: set rate 7:1";
        QTest::newRow("start twice; a time set holds; stop") << true << QByteArray("F002 F002 8C1E F001")
                                                             << QByteArray("F002 F002 F001 0C1E F001") << "Stopped 1" << "accepted: stop";
        QTest::newRow("the date and year are the settings'; 24:00, 10:60 and month 13 are none; not sets: F004, a report") << true
            << QByteArray("A102 B7CF 9800 8A3C AD01 F004 0600") << QByteArray("2101 37B2 0000 0000 2101") << idle
            << "! refused: the model date is fixed by [lcc] date=: set date 01-02";
    }
    void answers()
    {
        QFETCH(bool, control);
        QFETCH(QByteArray, heard);
        QFETCH(QByteArray, told);
        QFETCH(QString, clock);
        QFETCH(QString, note);
        Rig rig(control);
        QVERIFY(rig.loggedIn());
        const int from = int(rig.hub.texts.size());
        rig.hub.send(rig.frames(heard, ":X195B4AAAN010100000100").join());
        QCOMPARE(rig.heard(from, int(rig.frames(told).size())), rig.frames(told));
        const ClockSnapshot now = rig.clock.snapshot();
        QCOMPARE(QStringLiteral("Idle Running Stopped Held").split(u' ')[int(now.state)] + u' ' + QString::number(now.countedSpeed), clock);
        QCOMPARE(rig.notes.value(rig.notes.size() - 1), note.isEmpty() ? note : note.insert(note.startsWith('!') ? 2 : 0, "LCC alias AAA: "));
    }

    // A node that keeps sending refused sets: each is answered, the first is
    // noted, the rest are counted and told a line a window under the node's
    // ID; another node's refusal is noted on its own.
    void refusalFlood()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        QStringList counted;
        qint64 sum = 0;
        QObject::connect(rig.producer.get(), &BroadcastTimeProducer::refusalsCounted, [&](const QByteArray &channel, const QByteArray &text) {
            counted << QString::fromLatin1(channel + ": " + text);
            sum += QLocale(QLocale::English).toLongLong(QString::fromLatin1(text.left(text.indexOf(' '))));
        });
        rig.producer->refusals().setWindow(1000);
        const int from = int(rig.hub.texts.size());
        QElapsedTimer flood;
        flood.start();
        rig.hub.send(":X10701AAAN050101012200;" + rig.frames("F002", ":X195B4AAAN010100000100")[0].repeated(20000)
                     + rig.frames("8C1E", ":X195B4BBBN010100000100")[0]);
        QTRY_COMPARE_WITH_TIMEOUT(sum, 19999, 30000);
        QCOMPARE(rig.hub.texts.mid(from).count(rig.frames("F001")[0]), 20000);
        QVERIFY2(counted.size() <= flood.elapsed() / 1000 + 1
                     && counted.filter(" more set events refused from 05.01.01.01.22.00 in the last minute").size() == counted.size(),
                 qPrintable(counted.join('\n')));
        QCOMPARE(rig.notes, QStringList({"! LCC alias AAA: refused: control from LCC is off ([lcc] control=false): start",
                                         "! LCC alias BBB: refused: control from LCC is off ([lcc] control=false): set time 12:30"}));
    }

    // Login, ranges, synchronisation; each change as events in the order a
    // follower needs, synchronisation again SyncDelayMs after the last. Each
    // running model minute once; at midnight Date Rollover and the time, the
    // year and date SyncDelayMs later; no rollover when stopped or set.
    void producerTells()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        QCOMPARE(rig.hub.texts.mid(6), rig.frames(":X19100@N#; :X19524@N010100000100FFFF; :X194A4@N0101000001008000;")
                                           + rig.frames("F001 4004 37B2 2101 0000", ":X19544@N010100000100"));
        const QList<std::pair<std::function<void()>, QByteArray>> steps = {
            {[&] { rig.clock.setSpeed(8); }, "4020"},             // stopped: the rate Start will take
            {[&] { rig.clock.setTimeAndHold(12, 30); }, "0C1E"},
            {[&] { rig.clock.start(); }, "F002"},
            {[&] { rig.clock.setSpeed(2); }, ""},                 // waits for the next Start
            {[&] { rig.clock.chooseSpeedRemotely(3); }, "400C"},  // the web's: at once
            {[&] { rig.clock.setTimeAndHold(6, 5); }, "F001 0605"},
            {[&] { rig.clock.stop(); }, ""},
        };
        QElapsedTimer sinceChange;
        for (const auto &[act, suffixes] : steps) {
            const int from = int(rig.hub.texts.size());
            act();
            sinceChange.start();
            QCOMPARE(rig.heard(from, int(rig.frames(suffixes).size())), rig.frames(suffixes));
        }
        QVERIFY(rig.hub.waitFor(rig.frames("0605", ":X19544@N010100000100")[0], int(rig.hub.texts.size())) > 0);
        QVERIFY2(std::abs(sinceChange.elapsed() - BroadcastTimeProducer::SyncDelayMs) < 500, qPrintable(QString::number(sinceChange.elapsed())));

        const int from = int(rig.hub.texts.size());
        const auto at = [](int secondsOfDay, ClockState state = ClockState::Running) {
            ClockSnapshot s;
            s.state = state;
            s.secondsOfDay = secondsOfDay;
            return s;
        };
        for (int s : {10 * 3600 + 59, 10 * 3600 + 60, 10 * 3600 + 61, 10 * 3600 + 119, 86399, 0})
            rig.producer->minuteChanged(at(s));
        QCOMPARE(rig.heard(from, 5), rig.frames("0A00 0A01 173B F003 0000"));
        QCOMPARE(rig.hub.waitFor(rig.frames("2102")[0], from), from + 6);
        rig.producer->minuteChanged(at(600, ClockState::Stopped));
        rig.producer->clockChanged(at(60));
        QVERIFY(!rig.heard(from + 7, 1).join().contains("F003;"));
    }

    // Nobody there at start: told once, connected at the next try. After a
    // connection that lasted 5 s, lost once however many tries fail, which
    // come 1, 2 and 4 s apart; back once.
    void hubLostAndBack()
    {
        Rig rig;
        rig.hub.vanish();
        rig.producer->start();
        QTRY_COMPARE_WITH_TIMEOUT(rig.problems.size(), 1, 2000);
        QCOMPARE(rig.problems[0], rig.text(kLost.arg("cannot be reached", "Connection refused")));
        QVERIFY(rig.hub.listen(rig.hub.port()));
        QVERIFY(rig.loggedIn());
        QTest::qWait(TcpClient::SteadyMs);
        const qint64 vanished = rig.hub.clock.elapsed();
        rig.hub.vanish();
        QTest::qWait(3500);  // the tries at 1 and 3 s find nobody
        QVERIFY(rig.hub.listen(rig.hub.port()));
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.connectedAt.size(), 2, 5000);
        QVERIFY2(std::abs(rig.hub.connectedAt[1] - vanished - 7000) < 400, qPrintable(QString::number(rig.hub.connectedAt[1] - vanished)));
        QVERIFY(rig.loggedIn());
        QVERIFY2(rig.problems.size() == 2 && rig.problems[1].startsWith(rig.text("lost: "))
                     && rig.problems[1].endsWith("first in 1 s, at most every 30 s"), qPrintable(rig.problems.join('\n')));
        QCOMPARE(rig.notices, QStringList({rig.text("connected"), rig.text("is back")}));
    }

    // A crowded bus asks, in one write, for far more answers than the queue's
    // high-water mark: every question is answered over the same connection,
    // and the clock's own events still go out.
    void burstAnsweredInFull_data()
    {
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<int>("times");
        QTest::addColumn<QByteArray>("answer");  // how one of the frames each question gets begins
        QTest::newRow("3,000 Identify Events") << QByteArray(":X19970AAAN;") << 3000 << QByteArray(":X194A4@N0101000001008000;");
        QTest::newRow("600 Queries") << QByteArray(":X195B4AAAN010100000100F000;") << 600 << QByteArray(":X19544@N0101000001000000;");
        QTest::newRow("300 node information requests") << QByteArray(":X19DE8AAAN0@;") << 300 << QByteArray(":X19A08@N2AAA");  // the reply's last frame
    }
    void burstAnsweredInFull()
    {
        QFETCH(QByteArray, asked);
        QFETCH(int, times);
        QFETCH(QByteArray, answer);
        Rig rig;
        QVERIFY(rig.loggedIn());
        const QByteArray one = rig.frames(asked)[0], wanted = rig.frames(answer)[0];
        const int from = int(rig.hub.texts.size());
        const auto answered = [&] {
            return int(std::count_if(rig.hub.texts.cbegin() + from, rig.hub.texts.cend(), [&](const QByteArray &t) { return t.startsWith(wanted); }));
        };
        rig.hub.send(one.repeated(times));
        rig.clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(answered(), times, 20000);
        QVERIFY(rig.hub.texts.contains(rig.frames("F002")[0]));
        QCOMPARE(rig.hub.connectedAt.size(), 1);
        QCOMPARE(rig.problems, QStringList());
    }

    // A hub that floods with garbage, others' frames and asks, and never reads:
    // read in pieces of at most ReadPieceBytes and no more once the answers
    // pass the high-water mark; after the send timeout the connection is
    // dropped, told once, and made again.
    void hubFloodsAndNeverReads()
    {
        Rig rig(false, false);
        qint64 biggest = 0, read = 0;
        QObject::connect(&rig.producer->hub(), &TcpClient::received, [&](const QByteArray &b) {
            biggest = std::max(biggest, b.size());
            read += b.size();
        });
        rig.producer->hub().setSendTimeout(1000);
        rig.producer->start();
        QTRY_VERIFY_WITH_TIMEOUT(rig.producer->node().isInitialized(), 3000);
        rig.hub.send(QByteArray(":X195B4BBBN0101000001010000;:X19828BBBN0CCC;\x01\x02garbage;:X1942:X19A28BBBN0DDD;\n:X19490AAAN;")
                         .repeated(20000));
        QTRY_COMPARE_WITH_TIMEOUT(rig.problems.size(), 1, 10000);
        const QString lost = rig.text(kLost.arg("lost", "it has taken nothing of the last \\d+ bytes sent for 1 s"));
        QVERIFY2(QRegularExpression(lost).match(rig.problems[0]).hasMatch(), qPrintable(rig.problems[0]));
        QVERIFY(biggest > 0 && biggest <= TcpClient::ReadPieceBytes);
        QVERIFY2(read < 1024 * 1024, qPrintable(QString::number(read)));  // of the 2 MB sent: it stopped reading
        QTRY_COMPARE_WITH_TIMEOUT(rig.hub.connectedAt.size(), 2, 3000);
    }
};

QTEST_GUILESS_MAIN(TstLcc)
#include "tst_lcc.moc"
