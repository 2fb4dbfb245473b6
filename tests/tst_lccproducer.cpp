// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeHub.h"

#include "clock/ClockControl.h"
#include "clock/ClockEngine.h"
#include "publish/BroadcastTimeProducer.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace OpenLcb;

namespace {

constexpr NodeId kNode = 0x02010D000003ULL;

// The clock model as the window drives it, through the very calls the web
// control makes; every change and every model second reaches the producer.
struct TestClock : ClockEngine
{
    ClockEngine &engine = *this;
    void startClock() { start(); }
    void stopClock() { stop(); }
};

ExtensionSettings::Lcc settingsFor(quint16 port, bool control = false)
{
    ExtensionSettings::Lcc s;
    s.hubHost = QStringLiteral("127.0.0.1");
    s.hubPort = port;
    s.nodeId = kNode;
    s.control = control;
    s.name = QStringLiteral("Hall 2");
    return s;
}

ClockSnapshot runningAt(int secondsOfDay, qint16 speed = 1)
{
    ClockSnapshot s;
    s.state = ClockState::Running;
    s.secondsOfDay = secondsOfDay;
    s.chosenSpeed = s.countedSpeed = speed;
    return s;
}

// The producer on its hub, with the clock wired as the program wires it.
struct Rig
{
    FakeHub hub;
    TestClock clock;
    BroadcastTimeProducer producer;
    QSignalSpy problems{&producer, &BroadcastTimeProducer::problem};
    QSignalSpy notices{&producer, &BroadcastTimeProducer::notice};
    QSignalSpy notes{&producer, &BroadcastTimeProducer::controlNote};

    explicit Rig(bool control = false, bool reading = true)
        : hub(reading)
        , producer((hub.listen(), settingsFor(hub.port(), control)), clock)
    {
        clock.addFollower(producer);
    }
    QByteArray a() const
    {
        return QByteArray::number(producer.node().alias(), 16).rightJustified(3, '0').toUpper();
    }
    // ":X195B4@N...;" with the node's alias for "@".
    QByteArray frame(const char *text) const { return QByteArray(text).replace("@", a()); }
    QByteArray event(const char *mti, const char *suffix) const
    {
        return ":X19" + QByteArray(mti) + a() + "N010100000100" + suffix + ";";
    }
    // Event reports ("5B4") or Producer Identified ("544") of the default clock.
    QByteArrayList events(const char *mti, const QByteArrayList &suffixes) const
    {
        QByteArrayList out;
        for (const QByteArray &suffix : suffixes)
            out << event(mti, suffix.constData());
        return out;
    }
    // The synchronisation sequence of a clock at 00:00, 1:1, 1 January 1970.
    QByteArrayList sync(const char *state) const { return events("544", {state, "4004", "37B2", "2101", "0000"}); }
    bool loggedIn()
    {
        producer.start();
        return hub.waitFor(event("544", "0000")) >= 0;
    }
    // The frames from `from` on, waiting a little for more to come.
    QByteArrayList settle(int from, int ms = 300)
    {
        QTest::qWait(ms);
        return hub.texts.mid(from);
    }
};

}  // namespace

// The producer against a hub written in the test: the login, the node's
// obligatory answers, the Broadcast Time sequences, set events, and a hub that
// vanishes, floods or never reads.
class TstLccProducer : public QObject
{
    Q_OBJECT
private slots:
    // The default clock idle at 00:00, 1:1 chosen: after the login (its
    // frames and timing: tst_lccnode) the ranges and the synchronisation sequence.
    void startUpSequence()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        const QByteArrayList want{rig.frame(":X19100@N02010D000003;"), rig.frame(":X19524@N010100000100FFFF;"),
                                  rig.frame(":X194A4@N0101000001008000;")};
        QCOMPARE(rig.settle(0).mid(6), want + rig.sync("F001"));
        QCOMPARE(rig.notices.count(), 1);
        QVERIFY(rig.problems.isEmpty());
    }

    // Identify Events, global or addressed to the node, and the clock's own
    // event IDs are answered with the ranges; other events and Identify Events
    // for another node are not (every other answer is the node's, tested frame
    // by frame on the node alone).
    void identifyEventsAnswersTheRanges()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        const int from = int(rig.hub.texts.size());
        rig.hub.send(rig.frame(":X19970AAAN;:X19968AAAN0@;:X19968AAAN0BBB;:X19914AAAN0101000001000000;"
                               ":X198F4AAAN010100000100C004;:X198F4AAAN0101000001000000;"
                               ":X19914AAAN0101000001010000;"));
        const QByteArrayList ranges{rig.frame(":X19524@N010100000100FFFF;"), rig.frame(":X194A4@N0101000001008000;")};
        QCOMPARE(rig.settle(from), ranges + ranges + ranges);
    }

    void syncOnQuery()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        const int from = int(rig.hub.texts.size());
        rig.hub.send(":X195B4AAAN010100000100F000;");
        QCOMPARE(rig.settle(from), rig.sync("F001"));
        // Another clock's query is not ours.
        rig.hub.send(":X195B4AAAN010100000101F000;");
        QCOMPARE(rig.settle(from + 5), QByteArrayList());
    }

    // A change is an event at once, and the synchronisation follows 3 s after the last one.
    void changeThenSync()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        const int from = int(rig.hub.texts.size());
        const qint64 changed = rig.hub.clock.elapsed();
        rig.clock.startClock();
        QVERIFY(rig.hub.waitFor(rig.event("5B4", "F002"), from, 1000) == from);
        const int sync = rig.hub.waitFor(rig.event("544", "F002"), from, 5000);
        QVERIFY(sync > 0);
        const qint64 after = rig.hub.at[sync] - changed;
        QVERIFY2(after >= BroadcastTimeProducer::SyncDelayMs - 20 && after < BroadcastTimeProducer::SyncDelayMs + 1000,
                 qPrintable(QString::number(after)));
        QCOMPARE(rig.hub.texts.mid(sync, 5), rig.sync("F002"));
    }

    // Each change of the clock model, as events in the order a follower needs.
    void eachChange()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        struct Step { std::function<void()> act; QByteArrayList suffixes; };
        const QList<Step> steps = {
            {[&] { rig.clock.setSpeed(8); }, {"4020"}},                          // stopped: the rate Start will take
            {[&] { rig.clock.setTimeAndHold(12, 30); }, {"0C1E"}},
            {[&] { rig.clock.startClock(); }, {"F002"}},
            {[&] { rig.clock.setSpeed(2); }, {}},                                // waits for the next Start
            {[&] { rig.clock.chooseSpeedRemotely(3); }, {"400C"}},              // the web's: at once
            {[&] { rig.clock.setTimeAndHold(6, 5); }, {"F001", "0605"}},         // Held counts as stopped
            {[&] { rig.clock.startClock(); }, {"F002"}},
            {[&] { rig.clock.stopClock(); }, {"F001"}},
        };
        for (const Step &step : steps) {
            const int from = int(rig.hub.texts.size());
            step.act();
            QCOMPARE(rig.settle(from, 150), rig.events("5B4", step.suffixes));
        }
    }

    // While running: each new model minute once; past midnight the date rolls.
    void minutesAndRollover()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        rig.producer.minuteChanged(runningAt(10 * 3600 + 59, 8));
        rig.settle(0, 100);
        int from = int(rig.hub.texts.size());
        rig.producer.minuteChanged(runningAt(10 * 3600 + 60, 8));
        rig.producer.minuteChanged(runningAt(10 * 3600 + 61, 8));
        rig.producer.minuteChanged(runningAt(10 * 3600 + 119, 8));
        QCOMPARE(rig.settle(from, 100), QByteArrayList{rig.event("5B4", "0A01")});

        rig.producer.minuteChanged(runningAt(86399, 8));
        rig.settle(0, 100);
        from = int(rig.hub.texts.size());
        rig.producer.minuteChanged(runningAt(0, 8));
        QCOMPARE(rig.settle(from, 100), rig.events("5B4", {"F003", "0000"}));
        QCOMPARE(rig.producer.modelDate(), QDate(1970, 1, 2));
        QVERIFY(rig.hub.waitFor(rig.event("5B4", "2102"), from, 5000) > 0);
        QCOMPARE(rig.hub.texts.mid(from + 2, 2), rig.events("5B4", {"37B2", "2102"}));

        // A stopped clock is not told minute by minute; a time set is no rollover.
        from = int(rig.hub.texts.size());
        ClockSnapshot stopped = runningAt(600);
        stopped.state = ClockState::Stopped;
        rig.producer.minuteChanged(stopped);
        rig.producer.clockChanged(runningAt(60));
        QVERIFY(!rig.settle(from, 100).join().contains("F003"));
        QCOMPARE(rig.producer.modelDate(), QDate(1970, 1, 2));
    }

    // Control off: nothing is done, and the unchanged state is told back.
    void setEventsControlOff()
    {
        Rig rig(false);
        QVERIFY(rig.loggedIn());
        const QList<QPair<QByteArray, QByteArray>> asks = {
            {"F002", "F001"}, {"8C1E", "0000"}, {"C020", "4004"}, {"F001", "F001"}};
        for (const auto &[ask, answer] : asks) {
            const int from = int(rig.hub.texts.size());
            rig.hub.send(":X195B4AAAN010100000100" + ask + ";");
            QCOMPARE(rig.settle(from, 150), QByteArrayList{rig.event("5B4", answer.constData())});
        }
        QCOMPARE(rig.clock.engine.state(), ClockState::Idle);
        QCOMPARE(rig.clock.engine.clockSpeed(), qint16(1));
        QCOMPARE(rig.notes.count(), 4);
        QCOMPARE(rig.notes[0][0].toByteArray(), QByteArray("LCC alias AAA"));
        QVERIFY(rig.notes[0][1].toByteArray().startsWith("refused: control from LCC is off"));
        QVERIFY(rig.notes[1][1].toByteArray().endsWith("set time 12:30"));
        QCOMPARE(rig.notes[0][2].toBool(), true);
    }

    // Control on: what the web control does, and the true state told.
    void setEventsControlOn()
    {
        Rig rig(true);
        QVERIFY(rig.loggedIn());
        struct Ask { QByteArray suffix; QByteArrayList told; ClockState state; qint16 speed; };
        const QList<Ask> asks = {
            {"F002", {"F002"}, ClockState::Running, 1},
            {"C020", {"4020"}, ClockState::Running, 8},         // a speed while running applies at once
            {"C01C", {"4020"}, ClockState::Running, 8},         // 7:1 is not offered
            {"C021", {"4020"}, ClockState::Running, 8},         // nor 8.25:1
            {"8C1E", {"F001", "0C1E"}, ClockState::Held, 8},    // a time set holds the clock
            {"F002", {"F002"}, ClockState::Running, 8},
            {"F002", {"F002"}, ClockState::Running, 8},         // already running: told again
            {"F001", {"F001"}, ClockState::Stopped, 8},
            {"C008", {"4008"}, ClockState::Stopped, 2},
            {"A102", {"2101"}, ClockState::Stopped, 2},         // the date is the settings'
            {"B7CF", {"37B2"}, ClockState::Stopped, 2},
        };
        for (const Ask &ask : asks) {
            const int from = int(rig.hub.texts.size());
            rig.hub.send(":X195B4AAAN010100000100" + ask.suffix + ";");
            QCOMPARE(rig.settle(from, 150), rig.events("5B4", ask.told));
            QCOMPARE(rig.clock.engine.state(), ask.state);
            QCOMPARE(rig.clock.engine.countedSpeed(), ask.speed);
        }
        QByteArrayList refused;
        for (const QList<QVariant> &note : std::as_const(rig.notes))
            if (note[2].toBool())
                refused << note[1].toByteArray();
        QCOMPARE(refused.size(), 4);
        QVERIFY(refused[0].contains("not one of the speeds") && refused[0].endsWith("set rate 7:1"));
        QVERIFY(refused[1].endsWith("set rate 8.25:1"));
        QVERIFY(refused[2].contains("date"));
        QCOMPARE(rig.notes[0][1].toByteArray(), QByteArray("accepted: start"));
    }

    // The hub goes and comes back: lost once however many tries fail, back
    // once, and the login and the sequences again.
    void hubVanishesAndReturns()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        rig.hub.vanish();
        QVERIFY(QTest::qWaitFor([&] { return rig.problems.count() == 1; }, 3000));
        QVERIFY(rig.problems[0][0].toString().contains("lost"));
        QTest::qWait(3500);  // tries at 1 s and 3 s fail
        QCOMPARE(rig.problems.count(), 1);
        QVERIFY(rig.producer.hub().retryDelayMs() >= 4000);
        const int from = int(rig.hub.texts.size());
        QVERIFY(rig.hub.listen(rig.hub.port()));
        QVERIFY(QTest::qWaitFor([&] { return rig.hub.connections == 2; }, 6000));
        QVERIFY(rig.hub.waitFor(rig.frame(":X19100@N02010D000003;"), from) >= 0);
        QVERIFY(rig.hub.waitFor(rig.event("544", "0000"), from) >= 0);
        QCOMPARE(rig.notices.count(), 2);
        QVERIFY(rig.notices[1][0].toString().contains("back"));
        QCOMPARE(rig.problems.count(), 1);
    }

    // Nothing there at start-up: told once, then connected when it appears.
    void hubAbsentAtStart()
    {
        FakeHub probe;
        QVERIFY(probe.listen());
        const quint16 port = probe.port();
        probe.vanish();
        TestClock clock;
        BroadcastTimeProducer producer(settingsFor(port), clock);
        QSignalSpy problems(&producer, &BroadcastTimeProducer::problem);
        producer.start();
        QVERIFY(QTest::qWaitFor([&] { return problems.count() == 1; }, 2000));
        QVERIFY(problems[0][0].toString().contains("cannot be reached"));
        QVERIFY(probe.listen(port));
        QVERIFY(QTest::qWaitFor([&] { return producer.node().isInitialized(); }, 5000));
        QCOMPARE(problems.count(), 1);
    }

    // Megabytes of garbage, of frames for others and of others' events: the
    // node still answers, memory stays bounded and a 10 ms timer keeps time.
    void hubFloods()
    {
        Rig rig;
        QVERIFY(rig.loggedIn());
        QByteArray flood;
        for (int i = 0; i < 20000; ++i) {
            flood += ":X195B4BBBN0101000001010000;:X19828BBBN0CCC;\x01\x02garbage;:X1942";
            flood += ":X19A28BBBN0DDD;\n";
        }
        QTimer probe;
        QElapsedTimer sinceTick;
        qint64 worstGap = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            worstGap = std::max(worstGap, sinceTick.restart());
        });
        sinceTick.start();
        probe.start(10);
        const int from = int(rig.hub.texts.size());
        rig.hub.send(flood + ":X19490AAAN;");
        QVERIFY(rig.hub.waitFor(rig.frame(":X19170@N02010D000003;"), from, 20000) >= 0);
        probe.stop();
        QVERIFY2(worstGap < 250, qPrintable(QString::number(worstGap)));
        QVERIFY(rig.producer.hub().reader().pending() <= GridConnect::MaxFrameLength);
        QVERIFY(rig.producer.hub().reader().skipped() >= 20000);
        QCOMPARE(rig.hub.connections, 1);
        QVERIFY(rig.problems.isEmpty());
    }

    // A hub that takes the connection and never reads: what waits to be
    // sent stays bounded and the connection is dropped, then made again.
    void hubNeverReads()
    {
        Rig rig(false, false);
        rig.producer.start();
        QVERIFY(QTest::qWaitFor([&] { return rig.producer.node().isInitialized(); }, 3000));
        QByteArray asks;
        for (int i = 0; i < 40000; ++i)
            asks += ":X19490AAAN;";
        qint64 mostQueued = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { mostQueued = std::max(mostQueued, rig.producer.hub().queuedBytes()); });
        watch.start(1);
        rig.hub.send(asks);
        QVERIFY(QTest::qWaitFor([&] { return rig.problems.count() == 1; }, 10000));
        watch.stop();
        QVERIFY2(rig.problems[0][0].toString().contains("has not read"), qPrintable(rig.problems[0][0].toString()));
        QVERIFY(mostQueued <= GridConnectClient::MaxQueuedBytes + GridConnect::MaxFrameLength + 1);
        QVERIFY(!rig.producer.hub().isConnected());
        QVERIFY(QTest::qWaitFor([&] { return rig.hub.connections == 2; }, 5000));
    }
};

QTEST_GUILESS_MAIN(TstLccProducer)
#include "tst_lccproducer.moc"
