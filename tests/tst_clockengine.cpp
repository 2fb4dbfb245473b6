#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

static double at(int h, int m, int s, int day = 0)
{
    return day + (h * 3600 + m * 60 + s) / 86400.0;
}

class TstClockEngine : public QObject
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
        QFETCH(int, period);
        QCOMPARE(ClockEngine::periodFor(qint16(speed)), period);
    }

    void tick_data()
    {
        QTest::addColumn<double>("before");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("dayAfter");
        QTest::newRow("midnight rolls the day") << at(23, 59, 59, 5) << "00:00 " << QByteArray("0000") << 6;
        QTest::newRow("minute completes") << at(10, 59, 59) << "11:00 " << QByteArray("1100") << 0;
        QTest::newRow("seconds cut, not rounded") << at(23, 59, 29) << "23:59 " << QByteArray("2359") << 0;
        QTest::newRow("leading zeros") << at(9, 5, 58) << "09:05 " << QByteArray("0905") << 0;
    }
    void tick()
    {
        QFETCH(double, before);
        QFETCH(QString, shown);
        QFETCH(QByteArray, sent);
        QFETCH(int, dayAfter);
        ClockEngine clock;
        QSignalSpy spy(&clock, &ClockEngine::displayChanged);
        clock.restoreTime(before);
        clock.tick();
        QCOMPARE(spy.count(), 1);
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

    void startTwiceAndHeld()
    {
        ClockEngine clock;
        QSignalSpy spy(&clock, &ClockEngine::displayChanged);
        clock.setSpeed(6);
        clock.start();
        clock.start();
        QCOMPARE(clock.timer1().interval(), 167);
        clock.setSpeed(2);  // takes effect at the next Start
        QCOMPARE(clock.timer1().interval(), 167);
        clock.setTimeAndHold(14, 30);
        QCOMPARE(clock.timer1().interval(), 0);
        QCOMPARE(clock.clockTime(), at(14, 30, 0));
        QCOMPARE(spy.count(), 0);
        clock.start();
        QCOMPARE(clock.timer1().interval(), 500);
    }
};

QTEST_MAIN(TstClockEngine)
#include "tst_clockengine.moc"
