// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"

#include <QTimer>
#include <QtTest>

// Waits until nothing more arrives for a while, so that counts are final.
static bool waitQuiet(UdpCatcher &catcher)
{
    for (int i = 0; i < 40; ++i) {
        const qsizetype seen = catcher.datagrams().size();
        QTest::qWait(50);
        if (catcher.datagrams().size() == seen)
            return true;
    }
    return false;
}

class TstTimeBroadcast : public QObject
{
    Q_OBJECT
    Settings m_settings;
    ClockEngine m_clock;
    UdpCatcher m_time{TimeBroadcast::TimePort}, m_rate{TimeBroadcast::RatePort};
    TimeBroadcast m_broadcast{m_clock, m_settings};

private slots:
    void ratioFromTrim_data()
    {
        QTest::addColumn<QString>("trim");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("ratio");
        QTest::newRow("zero, like a stop mark") << "0" << true << 0;
        QTest::newRow("half to even") << "204.5" << true << 204;
        QTest::newRow("fraction rounds up") << "349.54" << true << 350;
        QTest::newRow("comma and blanks") << " 125,485 " << true << 125;
        QTest::newRow("comma is a point, not grouping") << "1,000" << true << 1;
        QTest::newRow("not a number") << "fast" << false << 0;
        QTest::newRow("too large") << "3e9" << false << 0;
        QTest::newRow("not a finite number") << "nan" << false << 0;
    }

    void ratioFromTrim()
    {
        QFETCH(QString, trim);
        QFETCH(bool, ok);
        QFETCH(int, ratio);
        qint32 got = -77;
        QCOMPARE(TimeBroadcast::ratioFromTrim(trim, &got), ok);
        QCOMPARE(got, ok ? ratio : -77);
    }

    // Every other test starts at 12:34, speed 5, right after the start-up
    // burst of a thousand stop marks.
    void init()
    {
        if (QTest::currentTestFunction() == QByteArray("ratioFromTrim"))
            return;
        REQUIRE_PRIVATE_NETWORK();
        m_broadcast.HaltBroadcast();
        m_settings = Settings();
        m_settings.RatioX5 = "204.5";
        m_clock.restoreTime(ClockTimeMath::timeOfDay(12, 34));
        m_clock.setSpeed(5);
        m_time.clear();
        m_rate.clear();
        m_broadcast.SetUpBroadcast();
        QVERIFY(waitQuiet(m_rate));
        QCOMPARE(m_rate.datagrams(), QByteArrayList(1000, "0"));
        QVERIFY(m_time.datagrams().isEmpty());
        m_rate.clear();
    }

    // Each tick sends the time, then the rate; a trim saved while running
    // reaches the next tick.
    void runningPairsThenStop()
    {
        m_broadcast.StartBroadcast();
        QTRY_VERIFY_WITH_TIMEOUT(m_rate.datagrams().size() >= 5, 2000);
        m_settings.RatioX5 = "198.7";
        QTRY_VERIFY_WITH_TIMEOUT(m_rate.datagrams().contains("199"), 2000);
        m_broadcast.HaltBroadcast();
        m_broadcast.SendStopBurst(100);
        QVERIFY(waitQuiet(m_rate));
        const QByteArrayList rates = m_rate.datagrams();
        const QByteArrayList ticks = rates.mid(0, rates.size() - 100);
        QCOMPARE(rates.mid(ticks.size()), QByteArrayList(100, "0"));
        QCOMPARE(ticks.count("204") + ticks.count("199"), ticks.size());
        QCOMPARE(ticks.last(), QByteArray("199"));
        QCOMPARE(m_time.datagrams(), QByteArrayList(ticks.size(), "1234"));
    }

    // A Stop that comes as a tick runs waits for the tick's end: the tick's
    // pair goes out whole, and the hundred marks are the rate channel's last
    // word.
    void stopAsATickRuns()
    {
        m_broadcast.timer3().setInterval(60000); // running, with no tick of its own here
        QTimer::singleShot(0, this, [this] {
            m_broadcast.HaltBroadcast();
            m_broadcast.SendStopBurst(100);
        });
        m_broadcast.BroadcastTick();
        QVERIFY(waitQuiet(m_rate));
        const QByteArrayList rates = m_rate.datagrams();
        QCOMPARE(rates.size(), 101);
        QVERIFY(rates.first() != "0");
        QCOMPARE(rates.mid(1), QByteArrayList(100, "0"));
        QCOMPARE(m_time.datagrams(), QByteArrayList{"1234"});
    }

    // Speed 7 has no trim, and a trim that is no number is ignored: the last
    // ratio stands.
    void speedWithoutTrimKeepsRatio()
    {
        m_broadcast.timer3().setInterval(60000);
        m_broadcast.BroadcastTick();
        m_clock.setSpeed(7);
        m_broadcast.BroadcastTick();
        m_clock.setSpeed(8);
        m_settings.RatioX8 = "not a number";
        m_broadcast.BroadcastTick();
        QVERIFY(waitQuiet(m_rate));
        QCOMPARE(m_rate.datagrams(), QByteArrayList(3, "204"));
    }
};

QTEST_MAIN(TstTimeBroadcast)
#include "tst_timebroadcast.moc"
