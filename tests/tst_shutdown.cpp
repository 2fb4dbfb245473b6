#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "clock/ClockTime.h"
#include "clock/FPortula.h"
#include "settings/FConfig.h"
#include "settings/SettingsStore.h"

#include <QtTest>
#include <QtWidgets>

#include <sqlite3.h>

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
    std::unique_ptr<QTemporaryDir> m_dir;
    AppPaths m_paths;
    QStringList m_messages;
    QList<int> m_ends;

    std::unique_ptr<FPortula> started()
    {
        auto w = std::make_unique<FPortula>(m_paths);
        w->setMessageSink([this](const QString &text) { m_messages << text; });
        w->setEndProgram([this](int status) { m_ends << status; });
        QString error;
        if (!w->Form_Load(&error))
            qWarning("start-up failed: %s", qPrintable(error));
        return w;
    }

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_dir = std::make_unique<QTemporaryDir>();
        m_paths = {m_dir->filePath("QuorandelDB.mdb"), {}, m_dir->filePath("export"), m_dir->path()};
        m_messages.clear();
        m_ends.clear();
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
        auto w = started();
        w->clock().selectSpeed(4);
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
        QCOMPARE(m_ends, QList<int>{0});
        QVERIFY(!w->configWindow() && !w->settings().Config);
        QCOMPARE(stopMarksAfter(rate, [&] { w->nEnd->trigger(); }), 0);  // only once
        QCOMPARE(m_ends.size(), 1);

        SettingsStore store(m_paths.settingsFile);
        QVERIFY(store.Open());
        QCOMPARE(store.ReadField(0).toInt(), 4);
        QCOMPARE(store.ReadField(6).toDouble(), timeAtExit);
        QCOMPARE(store.ReadField(7).toString(), QString("8090"));
        QCOMPARE(store.ReadField(11).toString(), QString("251"));
        QVERIFY(store.ReadField(12).toString() != "999");
    }

    // Another program holds the store locked.
    void lockedStoreStillStopsRemoteClocks()
    {
        UdpCatcher rate(TimeBroadcast::RatePort);
        auto w = started();
        w->clock().setTime(6, 30);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_paths.settingsFile).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        QCOMPARE(stopMarksAfter(rate, [&] { w->nEnd->trigger(); }), 100);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);

        QCOMPARE(m_ends, QList<int>{1});
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().contains("QuorandelDB.mdb") && m_messages.first().contains("locked"),
                 qPrintable(m_messages.first()));
        QCOMPARE(w->clock().timer1().interval(), 0);
        SettingsStore store(m_paths.settingsFile);
        QVERIFY(store.Open());
        QVERIFY(ClockTimeMath::secondsOfDay(store.ReadField(6).toDouble()) != 6 * 3600 + 30 * 60);
    }
};

QTEST_MAIN(TstShutDown)
#include "tst_shutdown.moc"
