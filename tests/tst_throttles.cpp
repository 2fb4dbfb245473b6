// SPDX-License-Identifier: GPL-3.0-or-later
// The throttles' clocks: each protocol's messages against the published
// examples; then JMRI, a DCC-EX command station and a Z21, each a fake written
// from its public protocol document, on loopback: what each hears of every
// master action, what each may say back, and what a hostile one costs.

#include "FakeThrottles.h"
#include "Waits.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "publish/DccExClient.h"
#include "publish/JmriClient.h"
#include "publish/Z21Client.h"

#include <QtTest>

#include <ctime>

namespace {

// The three clients, wired to a clock as the program wires them, at their fakes.
struct Rig
{
    FakeJmri jmri;
    FakeStation station;
    FakeZ21 z21;
    ClockEngine clock;
    JmriClient jmriClient;
    DccExClient dccEx;
    Z21Client z21Client;
    QStringList notes, problems, notices;
    explicit Rig(bool control = false, int silenceMs = 100000)
        : jmriClient({QStringLiteral("127.0.0.1"), jmri.serverPort(), control}, clock)
        , dccEx({QStringLiteral("127.0.0.1"), station.serverPort()}, clock)
        , z21Client({QStringLiteral("127.0.0.1"), z21.localPort()}, clock, silenceMs)
    {
        for (ClockFollower *f : std::initializer_list<ClockFollower *>{&jmriClient, &dccEx, &z21Client})
            clock.addFollower(*f);
        QObject::connect(&jmriClient, &JmriClient::controlNote, [this](const QByteArray &, const QByteArray &what, bool refused) {
            notes << (refused ? "! " : "") + what;
        });
        for (PeerStatus *s : {&jmriClient.status(), &dccEx.status(), &z21Client.status()}) {
            QObject::connect(s, &PeerStatus::problem, [this](const QString &t) { problems << t; });
            QObject::connect(s, &PeerStatus::notice, [this](const QString &t) { notices << t; });
        }
        jmriClient.start(), dccEx.start(), z21Client.start();
    }
    // Each peer has heard the idle clock.
    bool ready() { return allHeard("00:00 1 4", "<JC 0 0>", "00:00 1 stop"); }
    bool allHeard(const QString &jmriShows, const QByteArray &stationLine, const QString &z21Shows)
    {
        return spinUntil([&] {
            return jmri.shown() == jmriShows && station.lines.value(station.lines.size() - 1) == stationLine && z21.shown() == z21Shows;
        });
    }
    QString clockShows() const
    {
        const ClockSnapshot s = clock.snapshot();
        return QStringLiteral("Idle Running Stopped Held").split(u' ')[int(s.state)] + QString::asprintf(" %d ", s.countedSpeed)
               + ClockTimeMath::timeOfDayText(s.secondsOfDay).left(5);
    }
};

// LAN_FAST_CLOCK_DATA of a Tuesday 06:30:15 at 4:1, its XOR right; stopped, or its XOR changed.
const QByteArray kReport = "0c00cd006625261e0f040070";

}  // namespace

class TstThrottles : public QObject
{
    Q_OBJECT

    static void row(const char *name, const QByteArray &got, const QByteArray &want) { QTest::newRow(name) << got << want; }
    static QByteArray jmri(const QByteArray &message)
    {
        const JmriTime::Message m = JmriTime::read(message);
        const char *kinds[] = {"not JSON", "hello", "time", "error", "other"};
        return kinds[int(m.kind)] + (m.kind == JmriTime::Message::Kind::Time
                                         ? ' ' + ClockTimeMath::timeOfDayText(m.secondsOfDay) + ' ' + QByteArray::number(m.rate)
                                               + (m.running ? " running" : " stopped")
                                         : m.text.isEmpty() ? QByteArray() : ": " + m.text.toUtf8());
    }
    static QByteArray station(const QByteArray &bytes)
    {
        DccExClock::LineReader reader;
        QByteArrayList lines;
        for (const QByteArray &l : reader.feed(bytes))
            lines << (l.size() > 20 ? QByteArray::number(l.size()) + " bytes" : l);
        return lines.join('|') + " pending " + QByteArray::number(reader.pending());
    }
    static QByteArray z21(const QByteArray &hex)
    {
        const Z21Clock::Heard h = Z21Clock::read(QByteArray::fromHex(hex));
        return "records " + QByteArray::number(h.records)
               + (h.clock ? ", " + ClockTimeMath::timeOfDayText(h.clock->secondsOfDay) + " rate " + QByteArray::number(h.clock->rate)
                                + (h.clock->stopped ? " stopped" : " running") + " weekday " + QByteArray::number(h.clock->weekday)
                          : QByteArray());
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");  // the examples' offsets, +01:00 and +02:00
        tzset();
    }

    // What is built, and what is read, against the protocols' examples.
    void messages_data()
    {
        QTest::addColumn<QByteArray>("got");
        QTest::addColumn<QByteArray>("want");
        row("JMRI post, winter", JmriTime::post({2026, 12, 8}, 23400, 4, true),
            R"({"type":"time","method":"post","data":{"rate":4,"state":2,"time":"2026-12-08T06:30:00.000+01:00"}})");
        row("JMRI post, summer, stopped", JmriTime::post({2026, 7, 8}, 86399, 8, false),
            R"({"type":"time","method":"post","data":{"rate":8,"state":4,"time":"2026-07-08T23:59:59.000+02:00"}})");
        row("JMRI push in UTC", jmri(R"({"type":"time","data":{"time":"2026-12-08T05:30:15.000Z","rate":8.0,"state":4}})"),
            "time 06:30:15 8 stopped");
        row("JMRI push, offset", jmri(R"({"type":"time","data":{"time":"2026-07-08T06:30:00.000+02:00","rate":2.5,"state":2}})"),
            "time 06:30:00 2.5 running");
        row("JMRI hello", jmri(R"({"type":"hello","data":{"JMRI":"5.6"}})"), "hello");
        row("JMRI error", jmri(R"({"type":"error","data":{"code":400,"message":"bad rate"}})"), "error: bad rate");
        row("JMRI list, pong, time without state", jmri(R"([{"type":"time"}])") + jmri(R"({"type":"pong"})")
                + jmri(R"({"type":"time","data":{"time":"2026-12-08T05:30:15Z","rate":1}})"), "otherotherother");
        row("JMRI not JSON", jmri("{\"type\":\"time\"") + jmri("\x01garbage"), "not JSONnot JSON");
        row("DCC-EX 06:30:59 at 4:1, 23:59 held", DccExClock::command(23459, 4) + DccExClock::command(86399, 0),
            "<JC 390 4><JC 1439 0>");
        row("DCC-EX broadcasts", station("<jC 390 4>\r\n<p1><iDCC-EX V-5.0.0 / MEGA>"),
            "<jC 390 4>|<p1>|24 bytes pending 0");
        row("DCC-EX 256 bytes fit, 257 do not; a run without '>'",
            station("<" + QByteArray(254, 'x') + "><" + QByteArray(255, 'y') + "><jC 1 2>x<" + QByteArray(300, 'z')),
            "256 bytes|<jC 1 2> pending 0");
        row("Z21 flags, logoff, start, stop", (Z21Clock::broadcastFlags() + Z21Clock::logoff() + Z21Clock::start() + Z21Clock::stop()).toHex(' '),
            "08 00 50 00 10 00 00 00 04 00 30 00 07 00 cc 00 21 2c 0d 07 00 cc 00 21 2d 0c");
        row("Z21 set, Tuesday 06:30 at 4:1, Sunday 23:59 at 63", (Z21Clock::set(1, 23400, 4) + Z21Clock::set(6, 86399, 63)).toHex(),
            "0a00cc00242b261e04330a00cc00242bd73b3fdc");
        row("Z21 report after another record", z21("0800510010000000" + kReport), "records 2, 06:30:15 rate 4 running weekday 1");
        row("Z21 report, stopped", z21("0c00cd006625261e8f0400f0"), "records 1, 06:30:15 rate 4 stopped weekday 1");
        row("Z21 XOR wrong, hour 25", z21("0c00cd006625261e0f040071" "0c00cd006625391e0f04006f"), "records 2");
        row("Z21 DataLen past the end, under 4", z21(kReport.left(20)) + z21("0200cd00" + kReport), "records 0records 0");
    }
    void messages()
    {
        QFETCH(QByteArray, got);
        QFETCH(QByteArray, want);
        QCOMPARE(got, want);
    }

    // Each master action as the three peers hear it: JMRI's time, rate and
    // state; the station's command; the Z21's set and start or stop. A set in
    // the middle of a running minute comes again at the next one.
    void followers()
    {
        Rig rig;
        const auto at = [&](int h, int m, int s) { rig.clock.restoreTime(ClockTimeMath::timeOfDay(h, m) + s * ClockTimeMath::oneSecond()); };
        const struct { const char *what; std::function<void()> act; QString jmri; QByteArray station; QString z21; } steps[] = {
            {"connected", [] {}, "00:00 1 4", "<JC 0 0>", "00:00 1 stop"},
            {"time set", [&] { rig.clock.setTimeAndHold(6, 30); }, "06:30 1 4", "<JC 390 0>", "06:30 1 stop"},
            {"speed 4 while held", [&] { rig.clock.chooseSpeedRemotely(4); }, "06:30 4 4", "<JC 390 0>", "06:30 4 stop"},
            {"start", [&] { rig.clock.start(); }, "06:30 4 2", "<JC 390 4>", "06:30 4 start"},
            {"speed 8 in the middle of a minute", [&] { at(6, 41, 30), rig.clock.chooseSpeedRemotely(8); }, "06:41 8 2", "<JC 401 8>", "06:41 8 start"},
            {"a minute edge", [&] { at(6, 41, 59), rig.clock.tick(); }, "06:42 8 2", "<JC 402 8>", "06:42 8 start"},
            {"stop", [&] { rig.clock.stop(); }, "06:42 8 4", "<JC 402 0>", "06:42 8 stop"},
        };
        for (const auto &step : steps) {
            const qsizetype heard[] = {rig.jmri.heard.size(), rig.station.lines.size(), rig.z21.heard.size()};
            step.act();
            QVERIFY2(rig.allHeard(step.jmri, step.station, step.z21),
                     qPrintable(QString("%1: JMRI %2, station %3, Z21 %4").arg(step.what, rig.jmri.shown(), rig.station.lines.join(' '), rig.z21.shown())));
            qInfo("%s:\n  JMRI %s\n  DCC-EX %s\n  Z21 %s", step.what, rig.jmri.heard.mid(heard[0]).join(' ').constData(),
                  rig.station.lines.mid(heard[1]).join(' ').constData(), rig.z21.heard.mid(heard[2]).join(' ').constData());
        }
        QVERIFY(rig.jmri.heard.last().contains(QDate::currentDate().toString(Qt::ISODate).toUtf8()));
        // A speed chosen while running waits for Start: nothing the Z21 shows
        // changes, so it is not set again (it keeps the rate in its flash).
        rig.clock.start();
        QVERIFY(rig.allHeard("06:42 8 2", "<JC 402 8>", "06:42 8 start"));
        const qsizetype sets = rig.z21.sets(), lines = rig.station.lines.size();
        rig.clock.setSpeed(2);
        QVERIFY(spinUntil([&] { return rig.station.lines.size() == lines + 1; }));  // the change told
        rig.clock.stop();
        QVERIFY(rig.allHeard("06:42 2 4", "<JC 402 0>", "06:42 2 stop"));  // stopped, the speed Start will take
        QCOMPARE(rig.z21.sets(), sets + 1);
        QCOMPARE(rig.z21.heard.mid(0, 2), QByteArrayList({"0800500010000000", "0700cc00212a0b"}));
        rig.z21Client.stop();
        QTRY_COMPARE_WITH_TIMEOUT(rig.z21.heard.last(), QByteArray("04003000"), kWait);
        QCOMPARE(rig.problems, QStringList());
    }

    // Whatever a peer sends, the clock stays as it is; JMRI's connection
    // ends at an oversized or broken message, told once, and is made again.
    void hostile_data()
    {
        QTest::addColumn<int>("peer");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("JMRI, a message over 64 KiB") << 0 << QByteArray(70 * 1024, '{');
        QTest::newRow("JMRI, not JSON") << 0 << QByteArray("JMRI has had enough");
        QTest::newRow("DCC-EX, a megabyte without '>'") << 1 << "<" + QByteArray(1 << 20, 'x');
        QTest::newRow("Z21, garbage and a stranger's report, 5000 times") << 2 << QByteArray("01020304ffff");
    }
    void hostile()
    {
        QFETCH(int, peer);
        QFETCH(QByteArray, sent);
        Rig rig;
        QVERIFY(rig.ready());
        QUdpSocket stranger;
        if (peer == 0)
            rig.jmri.client->sendTextMessage(QString::fromLatin1(sent));
        else if (peer == 1)
            rig.station.client->write(sent);
        for (int i = 0; peer == 2 && i < 5000; ++i)
            rig.z21.say(sent), stranger.writeDatagram(QByteArray::fromHex("0c00cd006625261e0f050071"), QHostAddress::LocalHost, rig.z21.fromPort);
        const QString jmri = QStringLiteral("JMRI 127.0.0.1:%1 ").arg(rig.jmri.serverPort());
        if (peer == 0)
            QTRY_VERIFY_WITH_TIMEOUT(rig.jmri.connections == 2 && rig.notices.endsWith(jmri + "is back") && rig.jmri.heard.size() == 2, kWait);
        rig.clock.setTimeAndHold(7, 0);
        QVERIFY(rig.allHeard("07:00 1 4", "<JC 420 0>", "07:00 1 stop"));
        QCOMPARE(rig.clockShows(), QString("Idle 1 07:00"));
        QCOMPARE(rig.problems.size(), peer == 0 ? 1 : 0);
        QVERIFY2(peer != 0 || rig.problems[0].startsWith(jmri + "lost: "), qPrintable(rig.problems.join('\n')));
        QCOMPARE(rig.z21Client.status().text(), QString("Z21: no answer yet"));
        QCOMPARE(rig.z21.sets(), 2);
    }

    // JMRI's pushes drive the clock only with control on, as the web's
    // control would; an echo of the master's word changes nothing.
    void jmriPushes_data()
    {
        QTest::addColumn<bool>("control");
        QTest::addColumn<QByteArray>("push");  // rate state time
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("note");
        QTest::newRow("echo") << true << QByteArray("4 4 06:30:40") << "Idle 4 06:30" << "";
        QTest::newRow("control off") << false << QByteArray("8 2 07:15:00") << "Idle 4 06:30"
                                     << "! refused: control from JMRI is off ([jmri] control=false): set rate 8:1, set time 07:15, start";
        QTest::newRow("control on") << true << QByteArray("8 2 07:15:00") << "Running 8 07:15" << "accepted: set rate 8:1, set time 07:15, start";
        QTest::newRow("rate 7") << true << QByteArray("7 4 06:30:00") << "Idle 4 06:30"
                                << "! refused: not one of the speeds 1, 2, 3, 4, 5, 6 and 8:1: set rate 7:1";
    }
    void jmriPushes()
    {
        QFETCH(bool, control);
        QFETCH(QByteArray, push);
        QFETCH(QString, clock);
        QFETCH(QString, note);
        Rig rig(control);
        QVERIFY(rig.ready());
        rig.clock.setTimeAndHold(6, 30), rig.clock.chooseSpeedRemotely(4);
        QVERIFY(rig.allHeard("06:30 4 4", "<JC 390 0>", "06:30 4 stop"));
        const QByteArrayList p = push.split(' ');
        rig.jmri.client->sendTextMessage(QString(R"({"type":"time","data":{"time":"2026-12-08T%1.000+01:00","rate":%2,"state":%3}})")
                                             .arg(p[2], p[0], p[1]));
        if (note.isEmpty())
            QTest::qWait(300);  // an echo: nothing may follow
        QTRY_COMPARE_WITH_TIMEOUT(rig.notes.value(0), note, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(rig.clockShows(), clock, kWait);
        // JMRI hears the master's state after any push but an echo, refused or obeyed.
        QTRY_COMPARE_WITH_TIMEOUT(rig.jmri.heard.size(), note.isEmpty() ? 2 : 3, kWait);
        QCOMPARE(rig.jmri.shown(), clock.startsWith("Running") ? "07:15 8 2" : "06:30 4 4");
        QCOMPARE(rig.notes.size(), note.isEmpty() ? 0 : 1);
    }

    // The Z21 answers or not; a report that differs from the master sets it
    // again, one that agrees does not, and nor does one just after a set.
    void z21Reports()
    {
        Rig rig(false, 3000);
        QVERIFY(rig.ready());
        rig.clock.setTimeAndHold(6, 30), rig.clock.chooseSpeedRemotely(4);
        QVERIFY(rig.allHeard("06:30 4 4", "<JC 390 0>", "06:30 4 stop"));
        const qsizetype sets = rig.z21.sets();
        rig.z21.say("0c00cd006625261e8f0500f1");  // 5:1, within the set's grace
        QTRY_COMPARE_WITH_TIMEOUT(rig.z21Client.status().text(), QString("Z21: answering"), kWait);
        QTest::qWait(Z21Client::SetGraceMs);
        rig.z21.say("0c00cd006625261e8f0400f0");  // agrees
        QTest::qWait(300);
        QCOMPARE(rig.z21.sets(), sets);
        rig.z21.say("0c00cd006625261e8f0500f1");
        QTRY_COMPARE_WITH_TIMEOUT(rig.z21.sets(), sets + 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(rig.z21Client.status().text().startsWith("Z21: no answer since "), kWait);
        rig.z21.say(kReport);
        QTRY_COMPARE_WITH_TIMEOUT(rig.z21.sets(), sets + 2, kWait);
        QCOMPARE(rig.notices.filter("Z21").join('|'), QString("Z21 127.0.0.1:%1 answers|Z21 127.0.0.1:%1 answers again").arg(rig.z21.localPort()));
        QCOMPARE(rig.problems, QStringList(QString("Z21 127.0.0.1:%1 does not answer: nothing heard from it for 3 s").arg(rig.z21.localPort())));
    }
};

QTEST_GUILESS_MAIN(TstThrottles)
#include "tst_throttles.moc"
