#include "PrivateNetwork.h"

#include "clock/FPortula.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TstStartup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void firstRunCreatesStoreAndWaitsStopped();
    void startTicksStopHalts();
    void damagedStoreStopsStartUp();
    void opensAtTheWidthLimit();

private:
    QTemporaryDir m_dir;
    AppPaths m_paths;
};

// Start-up tells the remote clocks that the clock is stopped: a broadcast.
void TstStartup::init()
{
    REQUIRE_PRIVATE_NETWORK();
    QVERIFY(m_dir.isValid());
    m_paths.settingsFile = m_dir.filePath(QStringLiteral("QuorandelDB.mdb"));
    m_paths.exportFolder = m_dir.filePath(QStringLiteral("export"));
    m_paths.executableFolder = m_dir.path();
    QFile::remove(m_paths.settingsFile);
}

void TstStartup::firstRunCreatesStoreAndWaitsStopped()
{
    FPortula w(m_paths);
    QString error;
    QVERIFY2(w.Form_Load(&error), qPrintable(error));
    QVERIFY(QFile::exists(m_paths.settingsFile));
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorandel 1.40"));
    QCOMPARE(w.settings().WebRoot, m_paths.exportFolder);
    QCOMPARE(w.clock().timer1().interval(), 0);
    QCOMPARE(w.Text1->text(), QString());
}

void TstStartup::startTicksStopHalts()
{
    FPortula w(m_paths);
    QString error;
    QVERIFY(w.Form_Load(&error));
    w.clock().selectSpeed(8);
    w.StartClock->click();
    QCOMPARE(w.clock().timer1().interval(), 125);
    QTRY_COMPARE_WITH_TIMEOUT(w.Text1->text(), QStringLiteral("00:00 "), 1000);
    w.Stopclock->click();
    QCOMPARE(w.clock().timer1().interval(), 0);
}

void TstStartup::damagedStoreStopsStartUp()
{
    QFile f(m_paths.settingsFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("not a database at all, but somebody's notes");
    f.close();
    FPortula w(m_paths);
    QString error;
    QVERIFY(!w.Form_Load(&error));
    QVERIFY2(error.contains(QStringLiteral("QuorandelDB.mdb")), qPrintable(error));
}

void TstStartup::opensAtTheWidthLimit()
{
    // The window is designed wider than the limit; its height is within it.
    FPortula w(m_paths);
    const int designHeight = w.height();
    QVERIFY(w.frameGeometry().width() > FPortula::MaxOuterWidth);
    QString error;
    QVERIFY(w.Form_Load(&error));
    w.show();
    QCOMPARE(w.frameGeometry().width(), FPortula::MaxOuterWidth);
    QCOMPARE(w.height(), designHeight);
}

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
