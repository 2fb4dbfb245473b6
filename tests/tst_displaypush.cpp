// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisplayDevice.h"
#include "../bench/BenchTools.h"
#include "PrivateNetwork.h"

#include "UdpCatcher.h"

#include "clock/ClockEngine.h"
#include "publish/DisplayPush.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QProcess>
#include <QtTest>


class TstDisplayPush : public QObject
{
    Q_OBJECT
private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void pushesWhileRunningOnOneConnection()
    {
        DisplayDevice device;
        QVERIFY(device.isListening());
        DisplayPush push;
        QTest::qWait(250);
        QCOMPARE(device.connections, 0); // nothing before the first Start
        push.StartPush();
        QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 2000);
        const qsizetype first = device.received.size();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(1000);
        // At most one pair per period; a busy machine may skip some.
        const qsizetype pairs = (device.received.size() - first) / 2;
        QVERIFY2(pairs >= 3 && pairs <= clock.elapsed() / DisplayPush::PeriodMs + 1, qPrintable(QString::number(pairs)));

        push.StopPush();
        QTest::qWait(150);
        const QByteArray stoppedAt = device.received;
        QTest::qWait(300);
        QCOMPARE(device.received, stoppedAt);
        QCOMPARE(device.received, QByteArray("\xE8\x03").repeated(device.received.size() / 2));
        push.StartPush(); // resumes on the connection it kept
        QTRY_VERIFY_WITH_TIMEOUT(device.received.size() > stoppedAt.size(), 2000);
        QCOMPARE(device.connections, 1);
        device.current->close();
        QTRY_COMPARE_WITH_TIMEOUT(device.connections, 2, 2000);
    }

    // Whatever holds the display's address and sends without end: the push
    // drops it, memory stays flat and the broadcast keeps its pace.
    void deviceThatFloodsCannotSilenceTheClock()
    {
        QProcess device;
        device.start(QStringLiteral(FLOOD_DEVICE), {DisplayPush::DeviceAddress, QString::number(DisplayPush::DevicePort), "15"});
        QVERIFY(device.waitForReadyRead(5000));
        ClockEngine clock;
        Settings settings;
        settings.RatioX1 = QStringLiteral("1000");
        TimeBroadcast broadcast(clock, settings);
        DisplayPush push;
        UdpCatcher time(TimeBroadcast::TimePort);
        broadcast.SetUpBroadcast();
        clock.start();
        broadcast.StartBroadcast();
        QTest::qWait(200);
        const qint64 memoryBefore = residentKiB();
        push.StartPush();
        QTest::qWait(1000);  // connected and flooding
        time.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        QSignalSpy finished(&device, &QProcess::finished);
        QVERIFY(finished.wait(20000));
        const double seconds = elapsed.elapsed() / 1000.0;
        const double rate = time.datagrams().size() / seconds;
        const qint64 growth = residentKiB() - memoryBefore;
        qInfo("flood: %s; %.1f time datagrams/s over %.1f s; memory %lld KiB -> %+lld KiB",
              device.readAll().trimmed().split('\n').last().constData(), rate, seconds, memoryBefore, growth);
        QVERIFY2(growth < 20 * 1024, "memory grew under the flood");
        // The usual pace is 100 a second; without the fix it fell to a few.
        QVERIFY2(rate > 50, "the broadcast fell behind under the flood");
    }

    // A device that is not there yet is tried again on every tick.
    void reachesTheDeviceOnceItListens()
    {
        DisplayPush push;
        QSignalSpy refused(&push.winsock4(), &Winsock::errorOccurred);
        push.StartPush();
        QTRY_VERIFY_WITH_TIMEOUT(refused.count() >= 2, 2000);
        DisplayDevice device;
        QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 2000);
    }
};

QTEST_MAIN(TstDisplayPush)
#include "tst_displaypush.moc"
