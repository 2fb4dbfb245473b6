#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "clock/ClockTime.h"
#include "clock/FPortula.h"
#include "settings/FConfig.h"
#include "settings/SettingsStore.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

class TstShutDown : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void variants_data();
    void variants();
    void unsavedStoreStillStopsRemoteClocks();

private:
    std::unique_ptr<FPortula> started();
    int stopMarksAfter(UdpCatcher &rate, const std::function<void()> &action);

    QTemporaryDir m_dir;
    AppPaths m_paths;
    QStringList m_messages;
    QList<int> m_ends;
};

void TstShutDown::init()
{
    REQUIRE_PRIVATE_NETWORK();
    m_paths.settingsFile = m_dir.filePath(QStringLiteral("QuorandelDB.mdb"));
    m_paths.exportFolder = m_dir.filePath(QStringLiteral("export"));
    m_paths.executableFolder = m_dir.path();
    QFile::remove(m_paths.settingsFile);
    m_messages.clear();
    m_ends.clear();
}

std::unique_ptr<FPortula> TstShutDown::started()
{
    auto w = std::make_unique<FPortula>(m_paths);
    w->setMessageSink([this](const QString &text) { m_messages << text; });
    w->setEndProgram([this](int status) { m_ends << status; });
    QString error;
    if (!w->Form_Load(&error))
        qWarning("start-up failed: %s", qPrintable(error));
    return w;
}

// Counts the stop marks that the action sends, once the start-up burst has
// passed. (A running clock's rates go on beside them: in the program, the end
// follows at once.)
int TstShutDown::stopMarksAfter(UdpCatcher &rate, const std::function<void()> &action)
{
    QTest::qWait(100);
    rate.clear();
    action();
    QTest::qWait(200);
    return int(rate.datagrams().count("0"));
}

void TstShutDown::variants_data()
{
    QTest::addColumn<bool>("menu");
    QTest::addColumn<int>("marks");
    QTest::newRow("End and Save Settings") << true << 100;
    QTest::newRow("window closed") << false << 10;
}

void TstShutDown::variants()
{
    QFETCH(bool, menu);
    QFETCH(int, marks);
    UdpCatcher rate(TimeBroadcast::RatePort);
    auto w = started();
    QVERIFY(w->settings().Config);  // created hidden at start-up
    w->clock().selectSpeed(4);
    w->StartClock->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Text1->text().isEmpty(), 1000);
    w->MConfig->trigger();
    FConfig *config = w->configWindow();
    config->TextX[3]->setText("251");
    config->SaveTrim->click();
    config->TextX[4]->setText("999");  // typed, never saved
    config->CPort->setEditText("8090");
    config->CSave->click();
    QTRY_VERIFY(!w->configWindow());
    w->MConfig->trigger();
    w->configWindow()->CPort->setEditText("9999");  // open, not applied
    const double timeAtExit = w->clock().clockTime();

    const int sent = stopMarksAfter(rate, [&] {
        if (menu) {
            w->nEnd->trigger();
        } else {
            QCloseEvent close;
            QCoreApplication::sendEvent(w.get(), &close);
        }
    });
    QCOMPARE(sent, marks);
    QCOMPARE(m_ends, QList<int>{0});
    QVERIFY(!w->configWindow());
    QVERIFY(!w->settings().Config);
    QCOMPARE(stopMarksAfter(rate, [&] { w->nEnd->trigger(); }), 0);  // only once
    QCOMPARE(m_ends.size(), 1);

    SettingsStore store(m_paths.settingsFile);
    QVERIFY(store.Open());
    QCOMPARE(store.ReadField(0).toInt(), 4);
    QCOMPARE(store.ReadField(6).toDouble(), timeAtExit);
    QCOMPARE(store.ReadField(7).toString(), QString("8090"));
    QCOMPARE(store.ReadField(11).toString(), QString("251"));
    QCOMPARE(store.ReadField(12).toString(), w->settings().RatioX5);
    QVERIFY(store.ReadField(12).toString() != "999");
}

// Another program holds the store locked: the exit says so, naming the file,
// and the remote clocks still learn that the clock stopped.
void TstShutDown::unsavedStoreStillStopsRemoteClocks()
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

QTEST_MAIN(TstShutDown)
#include "tst_shutdown.moc"
