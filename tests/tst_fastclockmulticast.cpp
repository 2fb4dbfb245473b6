// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrivateNetwork.h"

#include "clock/ClockEngine.h"
#include "publish/FastClockMulticast.h"

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <unistd.h>

namespace {

struct Arrival
{
    qint64 ms = 0;
    int hopLimit = -1;
    QByteArray text;
    QByteArray field(const QByteArray &key) const
    {
        const qsizetype at = text.indexOf("\r\n" + key + '=');
        return at < 0 ? QByteArray() : text.mid(at + key.size() + 3).split('\r').first();
    }
};

// A slave clock on a port the OS picks. Inside the namespace the group's
// route is the default one over v0, and the sending host gets its own
// datagrams looped back.
class GroupListener : public QObject
{
public:
    explicit GroupListener(const QString &group)
    {
        m_clock.start();
        m_joined = m_socket.bind(QHostAddress::AnyIPv4, 0) && m_socket.joinMulticastGroup(QHostAddress(group));
        connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                arrivals << Arrival{now(), d.hopLimit(), d.data()};
            }
        });
    }
    bool joined() const { return m_joined; }
    quint16 port() const { return m_socket.localPort(); }
    qint64 now() const { return m_clock.elapsed(); }
    QList<Arrival> arrivals;

private:
    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    bool m_joined = false;
};

int openSockets()
{
    int sockets = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[16] = {};
        ::readlink(QFile::encodeName("/proc/self/fd/" + fd).constData(), target, sizeof target - 1);
        sockets += qstrncmp(target, "socket:", 7) == 0;
    }
    return sockets;
}

bool unreachableRoute(const char *action, const QString &group)
{
    return QProcess::execute(QStringLiteral("ip"), {"route", action, "unreachable", group + "/32"}) == 0;
}

const QString kGroup = QStringLiteral("239.50.50.20");

}  // namespace

class TstFastClockMulticast : public QObject
{
    Q_OBJECT
    FastClockState m_state{QStringLiteral("not sent"), QStringLiteral("10.77.0.1"), 8080, {}, true, 4, 43200, 99};
    int m_asked = 0;

    FastClockMulticast *publisher(const GroupListener &listener, const QString &group = kGroup, bool enabled = true)
    {
        ExtensionSettings::FastClock s;
        s.enabled = enabled;
        s.group = group;
        s.port = listener.port();
        s.ttl = 3;
        s.name = QStringLiteral("Club");
        s.intervalSeconds = 1;
        m_asked = 0;
        return new FastClockMulticast(s, m_clock, [this](const ClockSnapshot &) { return ++m_asked, m_state; }, &m_owner);
    }
    ClockEngine m_clock;
    QObject m_owner;

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }
    void cleanup() { qDeleteAll(m_owner.children()); }

    // One at start, one a second on a grid that does not drift, and a last
    // one that says stopped.
    void startGridAndStop()
    {
        GroupListener listener(kGroup);
        QVERIFY(listener.joined());
        FastClockMulticast *multicast = publisher(listener);
        const qint64 started = listener.now();
        multicast->start();
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 1, 500);
        const Arrival first = listener.arrivals[0];
        QVERIFY(first.ms - started < 300);
        QCOMPARE(first.hopLimit, 3);
        QCOMPARE(first.field("name") + first.field("clock") + first.field("interval") + first.field("active"),
                 QByteArray("Club12:00:001yes"));
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 4, 3500);
        for (int k = 1; k <= 3; ++k) {
            const qint64 off = listener.arrivals[k].ms - (first.ms + k * 1000);
            QVERIFY2(off > -50 && off < 200, qPrintable(QString::number(off)));
        }
        multicast->stop();
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 5, 500);
        QCOMPARE(listener.arrivals.last().field("active"), QByteArray("no"));
        QTest::qWait(1500);
        QCOMPARE(listener.arrivals.size(), 5);
    }

    // A change goes out at once, and the next datagram comes a whole interval
    // after it, not at the old grid point.
    void changedSendsAtOnceAndRestartsTheGrid()
    {
        GroupListener listener(kGroup);
        QVERIFY(listener.joined());
        FastClockMulticast *multicast = publisher(listener);
        multicast->start();
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 1, 500);
        QTest::qWait(400);
        m_state = {{}, {}, 0, {}, false, 2, 3661, 0};
        const qint64 changedAt = listener.now();
        multicast->clockChanged({});
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 2, 500);
        const Arrival &now = listener.arrivals.last();
        QVERIFY2(now.ms - changedAt < 100, qPrintable(QString::number(now.ms - changedAt)));
        QCOMPARE(now.field("active") + now.field("speed") + now.field("clock"), QByteArray("no201:01:01"));
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 3, 1500);
        const qint64 next = listener.arrivals.last().ms - changedAt;
        QVERIFY2(next > 950 && next < 1200, qPrintable(QString::number(next)));
    }

    void offSendsNothing_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("off") << false;
        QTest::newRow("on, for contrast") << true;
    }

    // Not a datagram, not a socket, not even a look at the clock.
    void offSendsNothing()
    {
        QFETCH(bool, enabled);
        GroupListener listener(kGroup);
        QVERIFY(listener.joined());
        FastClockMulticast *multicast = publisher(listener, kGroup, enabled);
        const int sockets = openSockets();
        multicast->start();
        multicast->clockChanged({});
        QCOMPARE(openSockets() - sockets, enabled ? 1 : 0);
        QTest::qWait(1300);
        multicast->stop();
        QTest::qWait(300);
        QCOMPARE(listener.arrivals.size(), enabled ? 4 : 0);  // start, changed, one interval, stop
        QCOMPARE(m_asked > 0, enabled);
    }

    void failingSendIsReportedOnce_data()
    {
        QTest::addColumn<QString>("group");
        QTest::newRow("no route to the group") << QStringLiteral("239.50.50.99");
        QTest::newRow("group not an address") << QStringLiteral("clocks.local");
    }

    // Reported once while it keeps failing, tried again every interval, and
    // reported anew only after a send has gone out in between.
    void failingSendIsReportedOnce()
    {
        QFETCH(QString, group);
        const bool routed = !QHostAddress(group).isNull();
        GroupListener listener(routed ? group : kGroup);
        QVERIFY(listener.joined());
        if (routed && !unreachableRoute("add", group))
            QSKIP("cannot change the namespace's routes here");
        const auto removeRoute = qScopeGuard([&] { routed && unreachableRoute("del", group); });
        FastClockMulticast *multicast = publisher(listener, group);
        QSignalSpy failed(multicast, &FastClockMulticast::sendFailed);
        multicast->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_asked, 3, 2500);
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed[0][0].toString().contains(group) && multicast->isRunning());
        if (!routed)
            return;
        QVERIFY(unreachableRoute("del", group));
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 1, 1500);
        QVERIFY(unreachableRoute("add", group));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 1500);
    }
};

QTEST_GUILESS_MAIN(TstFastClockMulticast)
#include "tst_fastclockmulticast.moc"
