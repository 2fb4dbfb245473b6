#include "platform/Timer.h"
#include "platform/Yield.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class TstTimer : public QObject
{
    Q_OBJECT
private slots:
    void offUntilPeriodAndEnabled_data();
    void offUntilPeriodAndEnabled();
    void tickDoesNotNestWhenItYields();
    void catchUpDeliversMissedTicks();
    void plainTimerSkipsMissedTicks();
    void sameIntervalKeepsGrid();
};

void TstTimer::offUntilPeriodAndEnabled_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("ticks");
    QTest::newRow("zero period") << 0 << true << false;
    QTest::newRow("disabled") << 5 << false << false;
    QTest::newRow("running") << 5 << true << true;
}

void TstTimer::offUntilPeriodAndEnabled()
{
    QFETCH(int, interval);
    QFETCH(bool, enabled);
    QFETCH(bool, ticks);
    Timer t;
    t.setEnabled(enabled);
    t.setInterval(interval);
    QSignalSpy spy(&t, &Timer::ticked);
    QTest::qWait(60);
    QCOMPARE(spy.count() > 0, ticks);
}

void TstTimer::tickDoesNotNestWhenItYields()
{
    Timer t;
    int depth = 0, maxDepth = 0, count = 0;
    connect(&t, &Timer::ticked, this, [&] {
        ++count;
        maxDepth = std::max(maxDepth, ++depth);
        QElapsedTimer e;
        e.start();
        while (e.elapsed() < 15)
            yieldToEventLoop();
        --depth;
    });
    t.setInterval(1);
    QTRY_VERIFY_WITH_TIMEOUT(count >= 5, 2000);
    QCOMPARE(maxDepth, 1);
}

// The event loop is blocked for 5.5 periods; a catch-up timer makes up for
// every grid point it missed.
void TstTimer::catchUpDeliversMissedTicks()
{
    Timer t;
    t.setCatchUp(true);
    QSignalSpy spy(&t, &Timer::ticked);
    QElapsedTimer e;
    e.start();
    t.setInterval(20);
    QThread::msleep(110);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 5, 1000);
    t.setInterval(0);
    const qint64 expected = e.elapsed() / 20;
    QVERIFY2(spy.count() >= expected - 1 && spy.count() <= expected,
             qPrintable(QString("%1 ticks for %2 periods").arg(spy.count()).arg(expected)));
}

void TstTimer::plainTimerSkipsMissedTicks()
{
    Timer t;
    QSignalSpy spy(&t, &Timer::ticked);
    t.setInterval(20);
    QThread::msleep(110);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
}

void TstTimer::sameIntervalKeepsGrid()
{
    Timer t;
    QSignalSpy spy(&t, &Timer::ticked);
    t.setInterval(50);
    QTest::qWait(30);
    t.setInterval(50);  // like pressing Start twice
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 45);
}

QTEST_MAIN(TstTimer)
#include "tst_timer.moc"
