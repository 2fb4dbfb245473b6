#include "platform/Timer.h"
#include "platform/Yield.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TstTimer : public QObject
{
    Q_OBJECT
private slots:
    // Stop and Start clicked while a tick yields arm the timer again; the next
    // tick must still wait until the one in progress has returned.
    void tickDoesNotNestWhenItYields()
    {
        Timer t;
        int depth = 0, maxDepth = 0, count = 0;
        connect(&t, &Timer::ticked, this, [&] {
            ++count;
            maxDepth = std::max(maxDepth, ++depth);
            if (count == 1) {
                QTimer::singleShot(0, &t, [&t] {
                    t.setInterval(0);
                    t.setInterval(1);
                });
            }
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

    void missedTicks_data()
    {
        QTest::addColumn<bool>("catchUp");
        QTest::newRow("catch-up timer delivers each") << true;
        QTest::newRow("plain timer skips them") << false;
    }

    // The event loop is blocked for five and a half periods.
    void missedTicks()
    {
        QFETCH(bool, catchUp);
        Timer t;
        t.setCatchUp(catchUp);
        QSignalSpy spy(&t, &Timer::ticked);
        QElapsedTimer clock;
        clock.start();
        t.setInterval(20);
        QThread::msleep(110);
        QCoreApplication::processEvents();
        if (catchUp)
            QVERIFY2(spy.count() >= 5 && spy.count() <= clock.elapsed() / 20, qPrintable(QString::number(spy.count())));
        else
            QCOMPARE(spy.count(), 1);
    }

    // A yield serves the loop once; a handler running inside it does not drain
    // the loop again with a yield of its own.
    void yieldInsideYieldReturnsAtOnce()
    {
        QStringList order;
        QTimer later;
        later.setSingleShot(true);
        connect(&later, &QTimer::timeout, this, [&] { order << "later event"; });
        QTimer::singleShot(0, this, [&] {
            order << "inner starts";
            QThread::msleep(5);  // the later event is due now
            yieldToEventLoop();
            order << "inner ends";
        });
        later.start(1);
        yieldToEventLoop();
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, 1000);
        QCOMPARE(order, (QStringList{"inner starts", "inner ends", "later event"}));
    }
};

QTEST_MAIN(TstTimer)
#include "tst_timer.moc"
