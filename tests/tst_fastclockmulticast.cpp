#include "PrivateNetwork.h"

#include "publish/FastClockMulticast.h"

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <unistd.h>

#include <algorithm>

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

// QUORANDEL_FASTCLOCK_SECONDS makes the timing runs longer, for measuring.
int measureSeconds()
{
    return std::max(3, qEnvironmentVariableIntValue("QUORANDEL_FASTCLOCK_SECONDS"));
}

QByteArray spread(QList<qint64> v)
{
    std::sort(v.begin(), v.end());
    return QStringLiteral("min %1, p50 %2, max %3 ms").arg(v.first()).arg(v[v.size() / 2]).arg(v.last()).toLatin1();
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
        return new FastClockMulticast(s, [this] { return ++m_asked, m_state; }, &m_owner);
    }
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
        QVERIFY(first.text.contains("\r\nname=Club\r\n") && first.text.contains("\r\nclock=12:00:00\r\n"));
        QCOMPARE(first.field("interval") + first.field("active"), QByteArray("1yes"));

        const int n = measureSeconds();
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), n + 1, n * 1000 + 500);
        QList<qint64> offGrid, gaps;
        for (int k = 1; k <= n; ++k) {
            offGrid << listener.arrivals[k].ms - (first.ms + k * 1000);
            gaps << listener.arrivals[k].ms - listener.arrivals[k - 1].ms;
        }
        qInfo("grid over %d s: off the grid %s; gaps %s", n, spread(offGrid).data(), spread(gaps).data());
        for (qint64 off : offGrid)
            QVERIFY2(off > -50 && off < 200, qPrintable(QString::number(off)));

        multicast->stop();
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), n + 2, 500);
        QCOMPARE(listener.arrivals.last().field("active"), QByteArray("no"));
        QTest::qWait(1500);
        QCOMPARE(listener.arrivals.size(), n + 2);
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
        QList<qint64> delays;
        for (int i = 0; i < measureSeconds(); ++i) {
            QTest::qWait(400);
            m_state.active = i % 2 != 0;
            m_state.speed = 1 + i % 8;
            m_state.secondsOfDay = 3600 + i;
            const qsizetype before = listener.arrivals.size();
            const qint64 changedAt = listener.now();
            multicast->changed();
            QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), before + 1, 500);
            const Arrival &now = listener.arrivals.last();
            delays << now.ms - changedAt;
            QCOMPARE(now.field("active"), QByteArray(m_state.active ? "yes" : "no"));
            QCOMPARE(now.field("speed").toInt(), m_state.speed);
            QCOMPARE(now.field("clock"), "01:00:" + QByteArray::number(i % 60).rightJustified(2, '0'));
            QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), before + 2, 1500);
            const qint64 next = listener.arrivals.last().ms - changedAt;
            QVERIFY2(next > 950 && next < 1200, qPrintable(QString::number(next)));
        }
        qInfo("changed() to arrival over %d changes: %s", int(delays.size()), spread(delays).data());
        for (qint64 d : delays)
            QVERIFY2(d < 100, qPrintable(QString::number(d)));
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
        multicast->changed();
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
        qInfo("reported: %s", qPrintable(failed[0][0].toString()));
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
