#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"

#include <QSignalSpy>
#include <QtTest>

using namespace ClockTimeMath;

namespace {
double at(int h, int m, int s, int day = 0)
{
    return day + (h * 3600 + m * 60 + s) / 86400.0;
}
}  // namespace

class TstClockEngine : public QObject
{
    Q_OBJECT
private slots:
    void period_data();
    void period();
    void tickDisplay_data();
    void tickDisplay();
    void hhmmRoundsToNearestSecond_data();
    void hhmmRoundsToNearestSecond();
    void tenModelDaysWithoutALateMinute();
    void startStopAndHeld();
    void runsInRealTime();
};

void TstClockEngine::period_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("period");
    for (auto [n, p] : {std::pair{1, 1000}, {2, 500}, {3, 333}, {4, 250}, {5, 200}, {6, 167},
                        {8, 125}, {7, 143}, {0, 1000}, {-3, 1000}, {2000, 1}, {32767, 1}})
        QTest::addRow("%d", n) << n << p;
}

void TstClockEngine::period()
{
    QFETCH(int, speed);
    QFETCH(int, period);
    QCOMPARE(ClockEngine::periodFor(qint16(speed)), period);
}

void TstClockEngine::tickDisplay_data()
{
    QTest::addColumn<double>("before");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("dayAfter");
    QTest::newRow("midnight rolls the day") << at(23, 59, 59, 5) << "00:00 " << 6;
    QTest::newRow("minute completes") << at(10, 59, 59) << "11:00 " << 0;
    QTest::newRow("seconds cut") << at(10, 59, 57) << "10:59 " << 0;
    QTest::newRow("first second") << 0.0 << "00:00 " << 0;
}

void TstClockEngine::tickDisplay()
{
    QFETCH(double, before);
    QFETCH(QString, shown);
    QFETCH(int, dayAfter);
    ClockEngine clock;
    QSignalSpy spy(&clock, &ClockEngine::displayChanged);
    clock.setClockTime(before);
    clock.tick();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), shown);
    QCOMPARE(int(std::trunc(clock.clockTime())), dayAfter);
}

void TstClockEngine::hhmmRoundsToNearestSecond_data()
{
    QTest::addColumn<double>("time");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("23:59:30") << at(23, 59, 30) << QByteArray("2359");
    QTest::newRow("09:05:59") << at(9, 5, 59) << QByteArray("0905");
    QTest::newRow("next midnight") << at(0, 0, 0, 1) << QByteArray("0000");
    QTest::newRow("just below a minute") << at(9, 5, 59) + 0.6 / 86400 << QByteArray("0906");
}

void TstClockEngine::hhmmRoundsToNearestSecond()
{
    QFETCH(double, time);
    QFETCH(QByteArray, sent);
    QCOMPARE(hhmm(time), sent);
}

// Every tick must show exactly the minute of the seconds counted so far, on
// a date far from zero where a double has the fewest bits to spare.
void TstClockEngine::tenModelDaysWithoutALateMinute()
{
    ClockEngine clock;
    const int startDay = 45000;
    const int startSecond = 13 * 3600 + 7 * 60 + 1;
    clock.setClockTime(at(13, 7, 1, startDay));
    QString shown;
    connect(&clock, &ClockEngine::displayChanged, this, [&](const QString &t) { shown = t; });
    const qint64 ticks = 10LL * 86400;
    for (qint64 k = 1; k <= ticks; ++k) {
        clock.tick();
        const qint64 s = (startSecond + k) % 86400;
        const QString expected = QStringLiteral("%1:%2 ").arg(s / 3600, 2, 10, QLatin1Char('0'))
                                     .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'));
        if (shown != expected)
            QFAIL(qPrintable(QString("tick %1 shows %2, expected %3").arg(k).arg(shown, expected)));
    }
    QCOMPARE(int(std::trunc(clock.clockTime())), startDay + 10);
}

void TstClockEngine::startStopAndHeld()
{
    ClockEngine clock;
    QSignalSpy spy(&clock, &ClockEngine::displayChanged);
    clock.selectSpeed(6);
    clock.start();
    QCOMPARE(clock.timer1().interval(), 167);
    clock.start();
    QCOMPARE(clock.timer1().interval(), 167);
    clock.selectSpeed(2);  // a running clock keeps its period until Start
    QCOMPARE(clock.timer1().interval(), 167);
    clock.setTime(14, 30);  // held: stopped at the value set, display untouched
    QCOMPARE(clock.timer1().interval(), 0);
    QCOMPARE(hhmm(clock.clockTime()), QByteArray("1430"));
    QCOMPARE(clock.clockTime(), at(14, 30, 0));
    QCOMPARE(spy.count(), 0);
    clock.start();
    QCOMPARE(clock.timer1().interval(), 500);
    clock.stop();
    QCOMPARE(clock.timer1().interval(), 0);
}

void TstClockEngine::runsInRealTime()
{
    ClockEngine clock;
    QSignalSpy spy(&clock, &ClockEngine::displayChanged);
    clock.selectSpeed(8);
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 2000);
    clock.stop();
    const int ticks = spy.count();
    QTest::qWait(300);
    QCOMPARE(spy.count(), ticks);
}

QTEST_MAIN(TstClockEngine)
#include "tst_clockengine.moc"
