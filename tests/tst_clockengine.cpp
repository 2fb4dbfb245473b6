// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(ClockState)

static double at(int h, int m, int s, int day = 0)
{
    return day + (h * 3600 + m * 60 + s) / 86400.0;
}

// Stands in for the broadcast and the push: says when it is switched.
struct Publication : ClockPublication
{
    Publication(const char *name, QStringList &log) : name(name), log(log) {}
    void startPublishing() override { publishing = true; log << name + " on"; }
    void haltPublishing(int) override { publishing = false; log << name + " off"; }
    QString name;
    QStringList &log;
    bool publishing = false;
};

class TstClockEngine : public QObject
{
    Q_OBJECT
    QStringList m_switched;
private slots:
    void period_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("period");
        for (auto [n, p] : {std::pair{1, 1000}, {3, 333}, {6, 167}, {8, 125}, {16, 62}, {0, 1000}, {2000, 1}})
            QTest::addRow("%d", n) << n << p;
    }
    void period()
    {
        QFETCH(int, speed);
        QFETCH(int, period);
        QCOMPARE(ClockEngine::periodFor(qint16(speed)), period);
    }

    void tick_data()
    {
        QTest::addColumn<double>("before");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("dayAfter");
        QTest::addColumn<bool>("newMinute");
        QTest::newRow("midnight rolls the day") << at(23, 59, 59, 5) << "00:00 " << QByteArray("0000") << 6 << true;
        QTest::newRow("minute completes") << at(10, 59, 59) << "11:00 " << QByteArray("1100") << 0 << true;
        QTest::newRow("seconds cut, not rounded") << at(23, 59, 29) << "23:59 " << QByteArray("2359") << 0 << false;
        QTest::newRow("leading zeros") << at(9, 5, 58) << "09:05 " << QByteArray("0905") << 0 << false;
    }
    void tick()
    {
        QFETCH(double, before);
        QFETCH(QString, shown);
        QFETCH(QByteArray, sent);
        QFETCH(int, dayAfter);
        QFETCH(bool, newMinute);
        ClockEngine clock;
        QSignalSpy spy(&clock, &ClockEngine::displayChanged);
        QSignalSpy minutes(&clock, &ClockEngine::minuteChanged);
        clock.restoreTime(before);
        clock.tick();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(minutes.count(), newMinute ? 1 : 0);
        if (newMinute)
            QCOMPARE(minutes.at(0).at(0).value<ClockSnapshot>().secondsOfDay % 86400,
                     ClockTimeMath::secondsOfDay(clock.clockTime()));
        QCOMPARE(spy.at(0).at(0).toString(), shown);
        QCOMPARE(ClockTimeMath::hhmm(clock.clockTime()), sent);
        QCOMPARE(int(std::trunc(clock.clockTime())), dayAfter);
    }

    // A date far from zero leaves a double the fewest bits for the seconds.
    void tenModelDaysWithoutALateMinute()
    {
        ClockEngine clock;
        const int startSecond = 13 * 3600 + 7 * 60 + 1;
        clock.restoreTime(at(13, 7, 1, 45000));
        QString shown;
        connect(&clock, &ClockEngine::displayChanged, this, [&](const QString &t) { shown = t; });
        for (qint64 k = 1; k <= 10LL * 86400; ++k) {
            clock.tick();
            const qint64 s = (startSecond + k) % 86400;
            const QString expected = QStringLiteral("%1:%2 ").arg(s / 3600, 2, 10, QLatin1Char('0'))
                                         .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'));
            if (shown != expected)
                QFAIL(qPrintable(QString("tick %1 shows %2, expected %3").arg(k).arg(shown, expected)));
        }
        QCOMPARE(int(std::trunc(clock.clockTime())), 45010);
    }

    // Every action from every state: the state it leaves, Timer1's period,
    // and the speed that is told as counted. The clock is brought into the
    // state at 4:1, then the action runs with 8:1 chosen where it chooses.
    void stateTable_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("action");
        QTest::addColumn<ClockState>("state");
        QTest::addColumn<int>("timer1");
        QTest::addColumn<int>("counted");
        QTest::addColumn<bool>("publishing");
        const struct { const char *from, *action; ClockState state; int timer1, counted; bool publishing; } rows[] = {
            {"idle", "start", ClockState::Running, 250, 4, true},    {"idle", "stop", ClockState::Stopped, 0, 4, false},
            {"idle", "speed", ClockState::Idle, 0, 8, false},        {"idle", "time", ClockState::Idle, 0, 4, false},
            {"running", "start", ClockState::Running, 250, 4, true}, {"running", "stop", ClockState::Stopped, 0, 4, false},
            {"running", "speed", ClockState::Running, 250, 4, true}, {"running", "time", ClockState::Held, 0, 4, true},
            {"stopped", "start", ClockState::Running, 250, 4, true}, {"stopped", "stop", ClockState::Stopped, 0, 4, false},
            {"stopped", "speed", ClockState::Stopped, 0, 8, false},  {"stopped", "time", ClockState::Stopped, 0, 4, false},
            {"held", "start", ClockState::Running, 250, 4, true},    {"held", "stop", ClockState::Stopped, 0, 4, false},
            {"held", "speed", ClockState::Held, 0, 8, true},         {"held", "time", ClockState::Held, 0, 4, true},
        };
        for (const auto &r : rows)
            QTest::addRow("%s, %s", r.from, r.action) << r.from << r.action << r.state << r.timer1 << r.counted
                                                     << r.publishing;
    }
    void stateTable()
    {
        QFETCH(QString, from);
        QFETCH(QString, action);
        ClockEngine clock;
        Publication broadcast("broadcast", m_switched), push("push", m_switched);
        clock.addPublication(broadcast);
        clock.addPublication(push);
        QSignalSpy setUp(&clock, &ClockEngine::changed);
        clock.setSpeed(4);
        if (from != "idle")
            clock.start();
        if (from == "stopped")
            clock.stop();
        if (from == "held")
            clock.setTimeAndHold(1, 2);
        QVERIFY(setUp.wait(1000));
        m_switched.clear();
        QSignalSpy changes(&clock, &ClockEngine::changed), shown(&clock, &ClockEngine::displayChanged);
        if (action == "start")
            clock.start();
        else if (action == "stop")
            clock.stop();
        else if (action == "speed")
            clock.setSpeed(8);
        else
            clock.setTimeAndHold(6, 30);
        const ClockSnapshot s = clock.snapshot();
        QTEST(s.state, "state");
        QTEST(clock.timer1().interval(), "timer1");
        QTEST(int(s.countedSpeed), "counted");
        QCOMPARE(s.intervalMs, ClockEngine::periodFor(s.countedSpeed));
        QCOMPARE(s.speedWaiting(), from == "running" && action == "speed");
        QCOMPARE(s.chosenSpeed, qint16(action == "speed" ? 8 : 4));
        if (action == "time")
            QCOMPARE(clock.clockTime(), ClockTimeMath::timeOfDay(6, 30));
        QCOMPARE(shown.count(), 0);  // the display changes only on a tick
        QTEST(broadcast.publishing, "publishing");
        QTEST(push.publishing, "publishing");
        // Start and Stop switch Timer1 first, then the publications in order.
        if (action == "start")
            QCOMPARE(m_switched, QStringList({"broadcast on", "push on"}));
        else if (action == "stop")
            QCOMPARE(m_switched, QStringList({"broadcast off", "push off"}));
        else
            QCOMPARE(m_switched, QStringList());
        QVERIFY(changes.wait(1000));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).value<ClockSnapshot>().state, s.state);
        clock.start();  // a speed chosen meanwhile counts from here on
        QCOMPARE(clock.timer1().interval(), action == "speed" ? 125 : 250);
    }

    // A speed and a time set by one request are told once, as they stand
    // after the request; nothing is told before the handler has ended.
    void changesOfOneHandlerAreToldOnce()
    {
        ClockEngine clock;
        clock.start();
        QSignalSpy changes(&clock, &ClockEngine::changed);
        clock.setSpeed(8);
        clock.setTimeAndHold(7, 15);
        QCOMPARE(changes.count(), 0);
        QVERIFY(changes.wait(1000));
        const auto told = changes.at(0).at(0).value<ClockSnapshot>();
        QCOMPARE(told.chosenSpeed, qint16(8));
        QCOMPARE(told.secondsOfDay, 7 * 3600 + 15 * 60);
        QCOMPARE(told.state, ClockState::Held);
        QVERIFY(!changes.wait(100));
        QCOMPARE(changes.count(), 1);
    }
};

QTEST_MAIN(TstClockEngine)
#include "tst_clockengine.moc"
