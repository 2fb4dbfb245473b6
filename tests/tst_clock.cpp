// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/AlarmWatch.h"
#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
double at(int h, int m, int s, int day = 0) { return day + (h * 3600 + m * 60 + s) / 86400.0; }
// The engine's Stop and Timer1 are reached only here.
void stopClock(ClockEngine &clock) { clock.stop(); }
int timer1Period(const ClockEngine &clock) { return clock.timer1().interval(); }

// Stands in for the broadcast and the push: notes when it is switched.
struct Publication : ClockPublication
{
    Publication(const QString &name, QStringList &log) : name(name), log(log) {}
    void startPublishing() override { log << name + " on"; }
    void haltPublishing(int) override { log << name + " off"; }
    QString name;
    QStringList &log;
};
}  // namespace

class TstClock : public QObject
{
    Q_OBJECT
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
        ClockEngine clock;
        clock.setSpeed(qint16(speed));
        clock.start();
        QTEST(timer1Period(clock), "period");
    }

    // A date near the last one an OLE date can hold (the year 9998) leaves a
    // double the fewest bits for the seconds: after ten model days each
    // minute must still come on the tick that completes it, not early or late.
    void tick_data()
    {
        QTest::addColumn<double>("before");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("after");  // the display, "hhmm" for the remote clocks, the day, minute signals
        QTest::newRow("midnight rolls the day") << at(23, 59, 59, 5) << 1 << "00:00 |0000|6|1";
        QTest::newRow("seconds cut, not rounded") << at(23, 59, 29) << 1 << "23:59 |2359|0|0";
        QTest::newRow("ten days, minute due") << at(13, 7, 1, 2958000) << 10 * 86400 + 59 << "13:08 |1308|2958010|14401";
        QTest::newRow("ten days, a second before") << at(13, 7, 1, 2958000) << 10 * 86400 + 58 << "13:07 |1307|2958010|14400";
    }
    void tick()
    {
        QFETCH(double, before);
        QFETCH(int, ticks);
        ClockEngine clock;
        QString shown;
        int minutes = 0;
        connect(&clock, &ClockEngine::displayChanged, this, [&](const QString &text) { shown = text; });
        connect(&clock, &ClockEngine::minuteChanged, this, [&] { ++minutes; });
        clock.restoreTime(before);
        for (int k = 0; k < ticks; ++k)
            clock.tick();
        QTEST(QString("%1|%2|%3|%4").arg(shown, ClockTimeMath::hhmm(clock.clockTime())).arg(qint64(clock.clockTime())).arg(minutes), "after");
    }

    // The event loop held up by other work for five and a half periods: the
    // model time must not lose those seconds.
    void catchesUpAfterABusyLoop()
    {
        ClockEngine clock;
        int ticks = 0;
        connect(&clock, &ClockEngine::displayChanged, this, [&] { ++ticks; });
        QElapsedTimer held;
        held.start();
        clock.setSpeed(8);
        clock.start();
        QThread::msleep(700);
        QCoreApplication::processEvents();
        QVERIFY2(ticks >= 5 && ticks <= held.elapsed() / 125, qPrintable(QString("%1 ticks in %2 ms").arg(ticks).arg(held.elapsed())));
    }

    // Every action from every state: the state it leaves, Timer1's period, the
    // speed told as counted. The clock is brought into the state at 4:1.
    void stateTable_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("after");
        const char *rows[][3] = {
            {"idle", "start", "run 250 4"}, {"idle", "stop", "stop 0 4"},   {"idle", "speed 8", "idle 0 8"},
            {"idle", "time", "idle 0 4"},   {"run", "start", "run 250 4"},  {"run", "stop", "stop 0 4"},
            {"run", "speed 8", "run 250 4"}, {"run", "time", "held 0 4"},   {"stop", "start", "run 250 4"},
            {"stop", "stop", "stop 0 4"},   {"stop", "speed 8", "stop 0 8"}, {"stop", "time", "stop 0 4"},
            {"held", "start", "run 250 4"}, {"held", "stop", "stop 0 4"},   {"held", "speed 8", "held 0 8"},
            {"held", "time", "held 0 4"}};
        for (const auto &r : rows)
            QTest::addRow("%s, %s", r[0], r[1]) << r[0] << r[1] << r[2];
    }
    void stateTable()
    {
        QFETCH(QString, from);
        QFETCH(QString, action);
        QStringList switched;
        ClockEngine clock;
        Publication broadcast("broadcast", switched), push("push", switched);
        clock.addPublication(broadcast);
        clock.addPublication(push);
        const QHash<QString, std::function<void()>> act{{"start", [&] { clock.start(); }}, {"stop", [&] { stopClock(clock); }},
                                                        {"speed 8", [&] { clock.setSpeed(8); }}, {"time", [&] { clock.setTimeAndHold(6, 30); }}};
        QSignalSpy setUp(&clock, &ClockEngine::changed);
        clock.setSpeed(4);
        if (from != "idle")
            act["start"]();
        if (from == "stop" || from == "held")
            act[from == "held" ? "time" : "stop"]();
        QVERIFY(setUp.wait(1000));
        switched.clear();
        clock.restoreTime(at(1, 2, 3));
        QSignalSpy changes(&clock, &ClockEngine::changed), shown(&clock, &ClockEngine::displayChanged);
        act[action]();
        QCOMPARE(changes.count(), 0);  // told once the handler has ended, as it then stands
        const ClockSnapshot s = clock.snapshot();
        const char *states[] = {"idle", "run", "stop", "held"};
        QTEST(QString("%1 %2 %3").arg(states[int(s.state)]).arg(timer1Period(clock)).arg(s.countedSpeed), "after");
        QCOMPARE(s.secondsOfDay, action == "time" ? 6 * 3600 + 30 * 60 : 3723);
        QCOMPARE(shown.count(), 0);  // the display changes only on a tick
        // Start and Stop switch the publications in the order added; a time
        // or a speed leaves them be, so a held clock goes on sending.
        const QHash<QString, QStringList> expected{{"start", {"broadcast on", "push on"}}, {"stop", {"broadcast off", "push off"}}};
        QCOMPARE(switched, expected.value(action));
        QVERIFY(changes.wait(1000) && changes.count() == 1);
        QCOMPARE(changes.at(0).at(0).value<ClockSnapshot>().state, s.state);
        clock.start();  // a speed chosen meanwhile counts from here on
        QCOMPARE(timer1Period(clock), action == "speed 8" ? 125 : 250);
    }

    // Which alarms one step of the counted time reaches (seconds of the day).
    void alarmsCrossed_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("reached");  // of 06:45, 00:00, 06:45
        const auto row = [](const char *name, int from, int to, const char *reached) { QTest::newRow(name) << from << to << reached; };
        row("counted to it", 24299, 24300, "0 2");
        row("started on it", 24300, 24360, "");
        row("across midnight", 86340, 0, "1");
        row("no step", 24300, 24300, "");
    }
    void alarmsCrossed()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        const std::vector<Alarm> alarms{{405, "a", false}, {0, "b", false}, {405, "c", true}};
        QStringList reached;
        for (int i : Alarms::crossed(from, to, alarms))
            reached << QString::number(i);
        QTEST(reached.join(' '), "reached");
    }

    // The alarms and the model date as the clock counts, from 06:44:00 on
    // 14 June 1957 at 1:1: "tick N" counts N model seconds, "set" is a time
    // set to 06:50. After: the alarms fired, the state, the date.
    void sessionPlan_data()
    {
        QTest::addColumn<QString>("alarm");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("after");
        QTest::newRow("counted to it") << "06:45 First train" << "start tick 60" << "06:45 First train|run|1957-06-14";
        QTest::newRow("a time set past it") << "06:45 First train" << "start set start tick 60" << "|run|1957-06-14";
        QTest::newRow("stop") << "06:45 stop End" << "start tick 90" << "06:45 End|stop|1957-06-14";
        QTest::newRow("each crossing once, across midnight") << "00:00 Midnight" << "start tick 62160 tick 86400"
                                                              << "00:00 Midnight,00:00 Midnight|run|1957-06-16";
        QTest::newRow("the date kept over a time set") << "00:00 Midnight" << "start tick 62160 set" << "00:00 Midnight|held|1957-06-15";
    }
    void sessionPlan()
    {
        QFETCH(QString, alarm);
        QFETCH(QString, steps);
        ClockEngine clock;
        Alarm a;
        QString problem;
        QVERIFY(Alarms::read(alarm, &a, &problem));
        AlarmWatch watch({a}, clock);
        clock.addFollower(watch);
        QStringList fired;
        connect(&watch, &AlarmWatch::fired, this, [&](const Alarm &x) { fired << Alarms::timeText(x) + ' ' + x.text; });
        clock.restoreTime(at(6, 44, 0));
        clock.restoreDate(QDate(1957, 6, 14));
        const QStringList words = steps.split(' ');
        for (qsizetype i = 0; i < words.size(); ++i) {
            if (words[i] == "tick") {
                for (int n = words[++i].toInt(); n > 0; --n)
                    clock.tick();
                continue;
            }
            QSignalSpy told(&clock, &ClockEngine::changed);
            words[i] == "start" ? clock.start() : clock.setTimeAndHold(6, 50);
            QVERIFY(told.wait(1000));  // the watch hears where counting starts
        }
        const char *states[] = {"idle", "run", "stop", "held"};
        QTEST(QString("%1|%2|%3").arg(fired.join(','), states[int(clock.state())], clock.snapshot().modelDate.toString(Qt::ISODate)), "after");
    }
};

QTEST_GUILESS_MAIN(TstClock)
#include "tst_clock.moc"
