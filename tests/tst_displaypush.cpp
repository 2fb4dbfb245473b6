#include "PrivateNetwork.h"

#include "publish/DisplayPush.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// The display device on its fixed address: counts connections, keeps what it gets.
struct Device : QTcpServer
{
    int connections = 0;
    QByteArray received;
    QPointer<QTcpSocket> current;

    Device()
    {
        listen(QHostAddress(DisplayPush::DeviceAddress), DisplayPush::DevicePort);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                ++connections;
                current = s;
                connect(s, &QIODevice::readyRead, this, [this, s] { received += s->readAll(); });
            }
        });
    }
};

class TstDisplayPush : public QObject
{
    Q_OBJECT
private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    void pushesWhileRunningOnOneConnection()
    {
        Device device;
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

    // A device that is not there yet is tried again on every tick.
    void reachesTheDeviceOnceItListens()
    {
        DisplayPush push;
        QSignalSpy refused(&push.winsock4(), &Winsock::errorOccurred);
        push.StartPush();
        QTRY_VERIFY_WITH_TIMEOUT(refused.count() >= 2, 2000);
        Device device;
        QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 2000);
    }
};

QTEST_MAIN(TstDisplayPush)
#include "tst_displaypush.moc"
