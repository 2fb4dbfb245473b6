#include "PrivateNetwork.h"

#include "publish/DisplayPush.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A display device on its fixed address that records what it receives.
class Device : public QObject
{
public:
    Device()
    {
        m_server.listen(QHostAddress(DisplayPush::DeviceAddress), DisplayPush::DevicePort);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++connections;
                current = s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] { received += s->readAll(); });
            }
        });
    }
    bool isListening() const { return m_server.isListening(); }
    int connections = 0;
    QByteArray received;
    QPointer<QTcpSocket> current;

private:
    QTcpServer m_server;
};

class TstDisplayPush : public QObject
{
    Q_OBJECT
private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }
    void pushesOnlyThePairWhileRunning();
    void reconnectsAfterDeviceCloses();
    void stopAndStartKeepConnection();
    void attemptsEveryPeriodWithoutListener();
};

void TstDisplayPush::pushesOnlyThePairWhileRunning()
{
    Device device;
    QVERIFY(device.isListening());
    DisplayPush push;
    QTest::qWait(250);
    QCOMPARE(device.connections, 0);  // nothing before the first Start
    push.StartPush();
    QTRY_VERIFY_WITH_TIMEOUT(device.received.size() >= 2, 1000);
    const QByteArray first = device.received;
    QTest::qWait(1000);
    const QByteArray second = device.received.mid(first.size());
    QCOMPARE(device.received.size() % 2, 0);
    QCOMPARE(device.received, QByteArray("\xE8\x03").repeated(device.received.size() / 2));
    QVERIFY2(second.size() >= 16 && second.size() <= 22, qPrintable(QString::number(second.size())));
    push.StopPush();
    QTest::qWait(150);
    const int stoppedAt = int(device.received.size());
    QTest::qWait(300);
    QCOMPARE(device.received.size(), stoppedAt);
}

void TstDisplayPush::reconnectsAfterDeviceCloses()
{
    Device device;
    DisplayPush push;
    push.StartPush();
    QTRY_COMPARE_WITH_TIMEOUT(device.connections, 1, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 1000);
    device.current->close();
    QTRY_COMPARE_WITH_TIMEOUT(device.connections, 2, 400);
}

void TstDisplayPush::stopAndStartKeepConnection()
{
    Device device;
    DisplayPush push;
    push.StartPush();
    QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 1000);
    push.StopPush();
    QTest::qWait(300);
    const int before = int(device.received.size());
    const int connections = device.connections;
    push.StartPush();
    QTRY_VERIFY_WITH_TIMEOUT(device.received.size() > before, 300);
    QCOMPARE(device.connections, connections);
}

// Nobody listens: every attempt is refused, and each tick while running
// starts the next one; a stopped clock makes none.
void TstDisplayPush::attemptsEveryPeriodWithoutListener()
{
    DisplayPush push;
    QSignalSpy refused(&push.winsock4(), &Winsock::errorOccurred);
    QTest::qWait(300);
    QCOMPARE(refused.count(), 0);
    push.StartPush();
    QTest::qWait(1050);
    push.StopPush();
    QVERIFY2(refused.count() >= 8 && refused.count() <= 11, qPrintable(QString::number(refused.count())));
    const int whileRunning = refused.count();
    QTest::qWait(400);
    QVERIFY(refused.count() <= whileRunning + 1);  // at most the attempt already under way
    QVERIFY(push.winsock4().state() != Winsock::Connected);
}

QTEST_MAIN(TstDisplayPush)
#include "tst_displaypush.moc"
