// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Timer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TstTimer : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_MAIN(TstTimer)
#include "tst_timer.moc"
