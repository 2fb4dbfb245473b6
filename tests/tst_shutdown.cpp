// SPDX-License-Identifier: GPL-3.0-or-later
#include "DisplayDevice.h"
#include "Fixtures.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "app/FPortula.h"
#include "clock/ClockTime.h"
#include "settings/FConfig.h"
#include "platform/ExitSignals.h"
#include "settings/SettingsStore.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>

#include <csignal>

// The stop marks an action sends, once the start-up burst has passed.
static int stopMarksAfter(UdpCatcher &rate, const std::function<void()> &action)
{
    QTest::qWait(100);
    rate.clear();
    action();
    QTest::qWait(200);
    return int(rate.datagrams().count("0"));
}

class TstShutDown : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchRun> m_run;

    static constexpr int Rounds = 3;
    QRandomGenerator m_random;

    // The exit comes by the given way, at a moment chosen by `moment`: posted
    // from inside a broadcast tick (so it runs right after that tick), from
    // inside a push tick once the device is reached, or after a random while.
    void arrangeExit(FPortula &w, const QString &variant, const QString &moment, int round)
    {
        const auto exit = [&w, variant] {
            QCloseEvent close;
            if (variant == "menu")
                w.nEnd->trigger();
            else if (variant == "window closed")
                QCoreApplication::sendEvent(&w, &close);
            else
                ::raise(SIGTERM);
        };
        const auto postExit = [exit] { QMetaObject::invokeMethod(qApp, exit, Qt::QueuedConnection); };
        if (moment == "any time") {
            QTimer::singleShot(m_random.bounded(50, 400), &w, exit);
            return;
        }
        Timer &timer = moment == "broadcast tick" ? w.broadcast().timer3() : w.push().timer4();
        QObject *publisher = moment == "broadcast tick" ? static_cast<QObject *>(&w.broadcast()) : &w.push();
        QVERIFY(QObject::disconnect(&timer, &Timer::ticked, publisher, nullptr));
        const int exitTick = (moment == "broadcast tick" ? 5 : 4) + 3 * round;
        auto ticks = std::make_shared<int>(0);
        connect(&timer, &Timer::ticked, &w, [&w, moment, postExit, ticks, exitTick] {
            if (++*ticks == exitTick)
                postExit();
            moment == "broadcast tick" ? w.broadcast().BroadcastTick() : w.push().PushTick();
        });
    }

private slots:
    void initTestCase()
    {
        const quint32 seed = QRandomGenerator::system()->generate();
        qInfo("random exit moments from seed %u", seed);
        m_random.seed(seed);
    }

    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_run = std::make_unique<ScratchRun>();
    }

    void variants_data()
    {
        QTest::addColumn<bool>("menu");
        QTest::addColumn<int>("marks");
        QTest::newRow("End and Save Settings") << true << 100;
        QTest::newRow("window closed") << false << 10;
    }
    void variants()
    {
        QFETCH(bool, menu);
        QFETCH(int, marks);
        UdpCatcher rate(TimeBroadcast::RatePort);
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        w->clock().setSpeed(4);
        w->StartClock->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->Text1->text().isEmpty(), 1000);
        w->MConfig->trigger();
        FConfig *config = w->configWindow();
        config->TextX[3]->setText("251");
        config->SaveTrim->click();
        config->TextX[4]->setText("999");  // never saved
        config->CPort->setEditText("8090");
        config->CSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->configWindow(), 1000);
        w->MConfig->trigger();
        w->configWindow()->CPort->setEditText("9999");  // left open, not applied
        double timeAtExit = 0;

        QCOMPARE(stopMarksAfter(rate, [&] {
                     timeAtExit = w->clock().clockTime();  // the clock is still running
                     QCloseEvent close;
                     if (menu) w->nEnd->trigger(); else QCoreApplication::sendEvent(w.get(), &close);
                 }),
                 marks);
        QCOMPARE(m_run->ends, QList<int>{0});
        QVERIFY(!w->configWindow() && !w->settings().Config);
        QCOMPARE(stopMarksAfter(rate, [&] { w->nEnd->trigger(); }), 0);  // only once
        QCOMPARE(m_run->ends.size(), 1);

        SettingsStore store(m_run->paths().settingsFile);
        QVERIFY(store.Open());
        QCOMPARE(store.ReadField(SettingsField::ClockSpeed).toInt(), 4);
        QCOMPARE(store.ReadField(SettingsField::ClockTime).toDouble(), timeAtExit);
        QCOMPARE(store.ReadField(SettingsField::LPort).toString(), QString("8090"));
        QCOMPARE(store.ReadField(SettingsField::RatioX4).toString(), QString("251"));
        QVERIFY(store.ReadField(SettingsField::RatioX5).toString() != "999");
    }

    // Whenever the exit comes (right after a broadcast or a push tick, or at
    // any moment), the stop marks are the last datagrams on either port and
    // nothing more reaches the display.
    void stopMarksAreTheLastWord_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("moment");
        for (const char *variant : {"menu", "window closed", "SIGTERM"}) {
            for (const char *moment : {"broadcast tick", "push tick", "any time"})
                QTest::addRow("%s, %s", variant, moment) << variant << moment;
        }
    }
    void stopMarksAreTheLastWord()
    {
        QFETCH(QString, variant);
        QFETCH(QString, moment);
        UdpCatcher time(TimeBroadcast::TimePort), rate(TimeBroadcast::RatePort);
        DisplayDevice device;
        QVERIFY(device.isListening());
        const int marks = variant == "menu" ? 100 : 10;
        for (int round = 0; round < Rounds; ++round) {
            auto w = m_run->started();
            QVERIFY2(w, qPrintable(m_run->startError));
            ExitSignals exitSignals;
            connect(&exitSignals, &ExitSignals::received, w.get(), [&] { w->ShutDown(FPortula::ExitVariant::WindowClosed); });
            // Sent the moment the program has done its part: whatever the
            // program sends later arrives after it.
            QUdpSocket sentinel;
            w->setEndProgram([&](int status) {
                m_run->ends << status;
                for (quint16 port : {TimeBroadcast::TimePort, TimeBroadcast::RatePort})
                    sentinel.writeDatagram("END", QHostAddress::Broadcast, port);
            });
            arrangeExit(*w, variant, moment, round);
            w->StartClock->click();
            QTRY_COMPARE_WITH_TIMEOUT(m_run->ends.size(), round + 1, 5000);
            QSignalSpy ticks3(&w->broadcast().timer3(), &Timer::ticked), ticks4(&w->push().timer4(), &Timer::ticked);
            QTest::qWait(300);  // a timer left running would tick now
            const QByteArray displayAfterEnd = device.received;  // what was queued before it has come
            QTest::qWait(300);
            QCOMPARE(ticks3.count() + ticks4.count(), 0);
            QCOMPARE(device.received.size(), displayAfterEnd.size());
            QCOMPARE(time.datagrams().last(), QByteArray("END"));
            const QByteArrayList got = rate.datagrams();
            QCOMPARE(got.last(), QByteArray("END"));
            QCOMPARE(got.mid(got.size() - 1 - marks, marks), QByteArrayList(marks, "0"));
            QVERIFY2(got.size() > marks + 1 && got[got.size() - 2 - marks] != "0", "not the clock's own marks");
        }
    }

    // Another program holds the store locked.
    void lockedStoreStillStopsRemoteClocks()
    {
        UdpCatcher rate(TimeBroadcast::RatePort);
        auto w = m_run->started();
        QVERIFY2(w, qPrintable(m_run->startError));
        w->clock().setTimeAndHold(6, 30);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_run->paths().settingsFile).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^the settings were not stored: .*QuorandelDB.mdb.*locked"));
        QCOMPARE(stopMarksAfter(rate, [&] { w->nEnd->trigger(); }), 100);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);

        QCOMPARE(m_run->ends, QList<int>{1});
        QCOMPARE(m_run->messages.size(), 1);
        QVERIFY2(m_run->messages.first().contains("QuorandelDB.mdb") && m_run->messages.first().contains("locked"),
                 qPrintable(m_run->messages.first()));
        QCOMPARE(w->clock().timer1().interval(), 0);
        SettingsStore store(m_run->paths().settingsFile);
        QVERIFY(store.Open());
        const double saved = store.ReadField(SettingsField::ClockTime).toDouble();
        QVERIFY(ClockTimeMath::secondsOfDay(saved) != 6 * 3600 + 30 * 60);
    }
};

QTEST_MAIN(TstShutDown)
#include "tst_shutdown.moc"
