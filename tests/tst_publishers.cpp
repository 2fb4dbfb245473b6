// SPDX-License-Identifier: GPL-3.0-or-later
#include "../bench/BenchTools.h"
#include "DisplayDevice.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "publish/FastClockMulticast.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <thread>

// What the clock sends to the LAN: the time broadcast, the display push and
// the fast-clock multicast, inside the private network namespace only.
class TstPublishers : public QObject
{
    Q_OBJECT
    FastClockState m_state{QStringLiteral("not sent"), QStringLiteral("10.77.0.1"), 8080, {}, true, 4, 43200, 99};
    int m_asked = 0;
    ClockEngine m_clock;

    std::unique_ptr<FastClockMulticast> multicastTo(const UdpCatcher &listener, const QString &group)
    {
        const ExtensionSettings::FastClock settings{true, group, listener.port(), 3, "Club", {}, 1};
        m_asked = 0;
        return std::make_unique<FastClockMulticast>(settings, m_clock,
                                                    [this](const ClockSnapshot &) { return ++m_asked, m_state; });
    }

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // Running: "hhmm" to 7791, then the speed's trim, whole (halves to even,
    // comma as point), to 7792; a new trim from the next tick; 7:1 (no trim)
    // or a trim that is no number keeps the last. Stop: the last pair whole,
    // then 100 stop marks. (The start-up burst: tst_endtoend.)
    void broadcastRunAndStop()
    {
        ClockEngine clock;
        Settings settings;
        settings.RatioX1 = QStringLiteral("204.5");
        settings.RatioX8 = QStringLiteral("fast");
        UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
        TimeBroadcast broadcast(clock, settings);
        clock.restoreTime(ClockTimeMath::timeOfDay(9, 5));
        broadcast.StartBroadcast();
        QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().size() >= 5, 2000);
        settings.RatioX1 = QStringLiteral(" 198,7 ");
        for (qint16 speed : {1, 7, 8}) {
            clock.setSpeed(speed);
            const qsizetype before = rate.datagrams().count("199");
            QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().count("199") >= before + 5, 2000);
        }
        broadcast.HaltBroadcast();
        broadcast.SendStopBurst(100);
        for (qsizetype seen = -1; seen != rate.datagrams().size(); QTest::qWait(50))  // until nothing more comes
            seen = rate.datagrams().size();
        const QByteArrayList rates = rate.datagrams(), ticks = rates.mid(0, rates.size() - 100);
        QCOMPARE(rates.mid(ticks.size()), QByteArrayList(100, "0"));
        QCOMPARE(ticks.count("204") + ticks.count("199"), ticks.size());
        QCOMPARE(ticks.last(), QByteArray("199"));
        QCOMPARE(time.datagrams(), QByteArrayList(ticks.size(), "0905"));
    }

    // Tried at every tick, the device is reached a tick or two after it
    // listens; then E8 03 every 100 ms, no faster. Start after Stop resumes on
    // the same connection; one the device closes is made again at once.
    void pushReachesAndKeepsTheDevice()
    {
        DisplayPush push;
        QSignalSpy ticks(&push.timer4(), &Timer::ticked);
        push.StartPush();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 1000);
        DisplayDevice device;
        QTRY_VERIFY_WITH_TIMEOUT(!device.received.isEmpty(), 2 * DisplayPush::PeriodMs + 200);
        QElapsedTimer pushing;
        pushing.start();
        QTRY_VERIFY_WITH_TIMEOUT(device.received.size() >= 22, 3000);
        QVERIFY2(pushing.elapsed() >= 9 * DisplayPush::PeriodMs, qPrintable(QString::number(pushing.elapsed())));
        push.StopPush();
        const QByteArray stopped = device.received;
        QCOMPARE(stopped, QByteArray("\xE8\x03").repeated(stopped.size() / 2));
        push.StartPush();
        QTRY_VERIFY_WITH_TIMEOUT(device.received.size() >= stopped.size() + 4, 1000);
        QCOMPARE(device.connections, 1);
        device.current->close();
        QTRY_COMPARE_WITH_TIMEOUT(device.connections, 2, 2 * DisplayPush::PeriodMs + 200);
    }

    // A device that sends without end, from a thread of its own: the push
    // drops it, memory stays flat, the broadcast keeps its 100 a second.
    void pushUnderFlood()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0), yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);  // the last test's connection may linger
        sockaddr_in address{AF_INET, htons(ExtensionSettings::Display::DefaultPort), {}, {}};
        ::inet_pton(AF_INET, ExtensionSettings::Display::DefaultAddress.toLatin1().constData(), &address.sin_addr);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(listener, 1) == 0);
        std::atomic<bool> done = false;
        std::atomic<qint64> sent = 0;
        std::thread device([&] {
            const int peer = ::accept(listener, nullptr, nullptr);
            const timeval patience{0, 100000};
            ::setsockopt(peer, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
            const QByteArray block(64 * 1024, 'x');
            while (!done)
                sent += std::max<qint64>(0, ::send(peer, block.data(), block.size(), MSG_NOSIGNAL));
            ::close(peer);
        });
        ClockEngine clock;
        Settings settings;
        TimeBroadcast broadcast(clock, settings);
        DisplayPush push;
        UdpCatcher time(TimeBroadcast::TimePort);
        broadcast.StartBroadcast();
        const qint64 memoryBefore = residentKiB();
        push.StartPush();
        QElapsedTimer flooding;
        flooding.start();
        // Two seconds to measure over, and enough sent to fill every buffer many times over.
        QTRY_VERIFY_WITH_TIMEOUT(flooding.elapsed() >= 2000 && sent > (qint64(64) << 20), 10000);
        const double seconds = flooding.elapsed() / 1000.0, rate = time.datagrams().size() / seconds;
        const qint64 growth = residentKiB() - memoryBefore;
        done = true;
        ::shutdown(listener, SHUT_RDWR);
        device.join();
        ::close(listener);
        qInfo("flood: %lld MiB in %.1f s; %.0f time datagrams/s; memory %+lld KiB", qint64(sent >> 20), seconds, rate, growth);
        QVERIFY2(growth < 20 * 1024, "memory grew under the flood");
        QVERIFY2(rate > 50, "the broadcast fell behind under the flood");
    }

    // At start (hop limit the TTL), then a second apart; a change at once and
    // the grid from there; "active=no" at stop, and nothing after.
    void multicast()
    {
        const QString group = QStringLiteral("239.50.50.20");  // inside the namespace, this host hears it
        UdpCatcher listener(0, group);
        auto multicast = multicastTo(listener, group);
        multicast->start();
        QTRY_COMPARE_WITH_TIMEOUT(listener.datagrams().size(), 1, 300);
        QTRY_COMPARE_WITH_TIMEOUT(listener.datagrams().size(), 2, 1300);
        QTest::qWait(400);
        m_state = {{}, {}, 0, {}, false, 2, 3661, 0};
        const qint64 changed = listener.clock.elapsed();
        multicast->clockChanged({});
        QTRY_COMPARE_WITH_TIMEOUT(listener.datagrams().size(), 3, 100);
        QTRY_COMPARE_WITH_TIMEOUT(listener.datagrams().size(), 4, 1300);
        multicast->stop();
        QTest::qWait(1200);  // a grid that went on would send again in this time
        QCOMPARE(listener.datagrams().size(), 5);
        QCOMPARE(m_asked, 5);
        const QByteArrayList got = listener.datagrams();
        QCOMPARE(listener.arrivals[0].second, 3);
        for (const auto &[i, lines] : {std::pair{0, "name=Club active=yes clock=12:00:00 interval=1"},
                                       {2, "active=no speed=2 clock=01:01:01"}, {4, "active=no"}})
            for (const QByteArray &line : QByteArray(lines).split(' '))
                QVERIFY2(got[i].contains("\r\n" + line + "\r\n"), line.constData());
        for (const auto &[i, since] : {std::pair{1, listener.arrivals[0].first}, {3, changed}})
            QVERIFY2(std::abs(listener.arrivals[i].first - since - 1000) < 150, qPrintable(QString::number(listener.arrivals[i].first - since)));
    }

    // Told once while it fails, and tried again every interval.
    void multicastFailing()
    {
        const QString group = QStringLiteral("239.50.50.99");
        const auto route = [&](const char *action) {
            return QProcess::execute(QStringLiteral("ip"), {"route", action, "unreachable", group + "/32"}) == 0;
        };
        UdpCatcher listener(0, group);
        if (!route("add"))
            QSKIP("cannot change the namespace's routes here");
        auto multicast = multicastTo(listener, group);
        QSignalSpy failed(multicast.get(), &FastClockMulticast::sendFailed);
        multicast->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_asked, 3, 2500);
        QCOMPARE(failed.count(), 1);
        const QString text = failed[0][0].toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^fast-clock multicast to %1:%2 failed: .+; trying again every 1 s$")
                                        .arg(QRegularExpression::escape(group)).arg(listener.port())).match(text).hasMatch(), qPrintable(text));
        QVERIFY(route("del"));
        QTRY_COMPARE_WITH_TIMEOUT(listener.datagrams().size(), 1, 1500);
    }
};

QTEST_GUILESS_MAIN(TstPublishers)
#include "tst_publishers.moc"
