#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "publish/TimeBroadcast.h"
#include "settings/Settings.h"

#include <QTimer>
#include <QtTest>

namespace {
Settings defaultTrims()
{
    Settings s;
    s.RatioX1 = "1000";
    s.RatioX2 = "500.2";
    s.RatioX3 = "349.54";
    s.RatioX4 = "253";
    s.RatioX5 = "204.5";
    s.RatioX6 = "175";
    s.RatioX8 = "125.485";
    return s;
}
}  // namespace

class TstTimeBroadcast : public QObject
{
    Q_OBJECT
private slots:
    void ratioFromTrim_data();
    void ratioFromTrim();
    void init();
    void startUpBurst();
    void runningPairs();
    void stopSendsHundredMarksLast();
    void startThenStopBeforeAnyTick();
    void stopDuringFirstYield();
    void speedWithoutTrimKeepsRatio();

private:
    bool waitQuiet(UdpCatcher &c);
    Settings m_settings = defaultTrims();
    ClockEngine m_clock;
};

void TstTimeBroadcast::ratioFromTrim_data()
{
    QTest::addColumn<QString>("trim");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("ratio");
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("half to even down") << "204.5" << true << 204;
    QTest::newRow("half to even up") << "3.5" << true << 4;
    QTest::newRow("fraction up") << "349.54" << true << 350;
    QTest::newRow("fraction down") << "500.2" << true << 500;
    QTest::newRow("comma and blanks") << " 125,485 " << true << 125;
    QTest::newRow("negative") << "-2.5" << true << -2;
    QTest::newRow("not a number") << "fast" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("too large") << "3e9" << false << 0;
    QTest::newRow("infinite") << "inf" << false << 0;
}

void TstTimeBroadcast::ratioFromTrim()
{
    QFETCH(QString, trim);
    QFETCH(bool, ok);
    QFETCH(int, ratio);
    qint32 got = -77;
    QCOMPARE(TimeBroadcast::ratioFromTrim(trim, &got), ok);
    QCOMPARE(got, ok ? ratio : -77);
}

void TstTimeBroadcast::init()
{
    if (QByteArray(QTest::currentTestFunction()) != "ratioFromTrim")
        REQUIRE_PRIVATE_NETWORK();
    m_settings = defaultTrims();
    m_clock.setClockTime(ClockTimeMath::timeOfDay(12, 34));
    m_clock.setClockSpeed(5);
}

// Waits until nothing has arrived for a while, so counts are final.
bool TstTimeBroadcast::waitQuiet(UdpCatcher &c)
{
    int last = -1;
    for (int i = 0; i < 40 && c.count() != last; ++i) {
        last = c.count();
        QTest::qWait(50);
    }
    return c.count() == last;
}

void TstTimeBroadcast::startUpBurst()
{
    UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
    QVERIFY(time.isBound() && rate.isBound());
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    QVERIFY(waitQuiet(rate));
    QCOMPARE(rate.count(), 1000);
    QCOMPARE(rate.datagrams().count(QByteArray("0")), 1000);
    QCOMPARE(time.count(), 0);
}

void TstTimeBroadcast::runningPairs()
{
    UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    QVERIFY(waitQuiet(rate));
    rate.clear();
    b.StartBroadcast();
    QCOMPARE(b.timer3().interval(), 10);
    QTRY_VERIFY_WITH_TIMEOUT(rate.count() >= 5, 2000);
    m_settings.RatioX5 = "198.7";  // a trim saved while running reaches the next tick
    QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().contains("199"), 2000);
    b.HaltBroadcast();
    QVERIFY(waitQuiet(time));
    const QByteArrayList rates = rate.datagrams();
    QCOMPARE(rates.count("204") + rates.count("199"), rates.size());
    QCOMPARE(time.datagrams().count("1234"), time.count());
    QCOMPARE(time.count(), rate.count());
}

void TstTimeBroadcast::stopSendsHundredMarksLast()
{
    UdpCatcher rate(TimeBroadcast::RatePort);
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    b.StartBroadcast();
    QTRY_VERIFY_WITH_TIMEOUT(rate.datagrams().contains("204"), 2000);
    b.HaltBroadcast();
    b.SendStopBurst(100);
    QVERIFY(waitQuiet(rate));
    const QByteArrayList all = rate.datagrams();
    QVERIFY(all.size() > 1100);
    QCOMPARE(all.mid(all.size() - 100).count("0"), 100);
    QCOMPARE(all.at(all.size() - 101), QByteArray("204"));
}

void TstTimeBroadcast::startThenStopBeforeAnyTick()
{
    UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    QVERIFY(waitQuiet(rate));
    rate.clear();
    b.StartBroadcast();
    b.HaltBroadcast();
    b.SendStopBurst(100);
    QVERIFY(waitQuiet(rate));
    QCOMPARE(rate.count(), 100);
    QCOMPARE(rate.datagrams().count("0"), 100);
    QCOMPARE(time.count(), 0);
}

void TstTimeBroadcast::stopDuringFirstYield()
{
    UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    QVERIFY(waitQuiet(rate));
    rate.clear();
    b.timer3().setInterval(60000);  // running, but no tick of its own in this test
    QTimer::singleShot(0, this, [&] {
        b.HaltBroadcast();
        b.SendStopBurst(100);
    });
    b.BroadcastTick();
    QVERIFY(waitQuiet(rate));
    QCOMPARE(time.datagrams(), QByteArrayList{"1234"});
    QCOMPARE(rate.count(), 100);
    QCOMPARE(rate.datagrams().count("0"), 100);
}

void TstTimeBroadcast::speedWithoutTrimKeepsRatio()
{
    UdpCatcher rate(TimeBroadcast::RatePort);
    TimeBroadcast b(m_clock, m_settings);
    b.SetUpBroadcast();
    b.timer3().setInterval(60000);
    b.BroadcastTick();
    QCOMPARE(b.Ratio(), 204);
    m_clock.setClockSpeed(7);
    b.BroadcastTick();
    QCOMPARE(b.Ratio(), 204);
    m_clock.setClockSpeed(8);
    m_settings.RatioX8 = "not a number";
    b.BroadcastTick();
    QCOMPARE(b.Ratio(), 204);
    QVERIFY(waitQuiet(rate));
    QCOMPARE(rate.datagrams().mid(1000), (QByteArrayList{"204", "204", "204"}));
}

QTEST_MAIN(TstTimeBroadcast)
#include "tst_timebroadcast.moc"
