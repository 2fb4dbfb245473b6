// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fixtures.h"

#include "clock/ClockEngine.h"
#include "platform/RegistryHive.h"
#include "settings/Settings.h"
#include "settings/SettingsSequence.h"
#include "settings/SettingsStore.h"

#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <thread>

#include <sqlite3.h>
#include <sys/stat.h>

static QString sep(QString number)
{
    return number.replace(u'.', QLocale::system().decimalPoint());
}

class TstSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;
    int m_n = 0;
    // What the last load gave.
    Settings s;
    ClockEngine clock;
    QString error;
    int logOpens = 0;
    int trimHandOvers = 0;

    bool load(const QString &registry = QString())
    {
        s = {};
        logOpens = trimHandOvers = 0;
        error.clear();
        SettingsStore store(m_path);
        const LoadHooks hooks{"/srv/default", [this] { return ++logOpens > 0; }, [this] { ++trimHandOvers; }};
        return LoadSettings(store, RegistryHive::fromText(registry), s, clock, hooks, &error);
    }
    // Reads or changes the store from outside, as another tool would; the
    // first row of the answer, each column as text, goes to `firstRow`.
    bool sql(const QString &statement, QStringList *firstRow = nullptr)
    {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(m_path).constData(), &db);
        const auto keepFirst = [](void *row, int columns, char **values, char **) {
            for (int i = 0; row && static_cast<QStringList *>(row)->size() < columns; ++i)
                *static_cast<QStringList *>(row) << QString::fromUtf8(values[i]);
            return 0;
        };
        const int rc = sqlite3_exec(db, statement.toUtf8().constData(), keepFirst, firstRow, nullptr);
        sqlite3_close(db);
        return rc == SQLITE_OK;
    }
    QStringList sqlRow(const QString &query)
    {
        QStringList row;
        sql(query, &row);
        return row;
    }

    // A start killed while it made the store, then the store deleted by hand:
    // its journal stays behind, and a rollback of it would empty the next store.
    bool leaveJournalOfDeletedStore()
    {
        const QString scratch = m_path + ".scratch";
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(scratch).constData(), &db);
        // A small cache spills to the file, which first makes the journal hot.
        const char *const work = "PRAGMA cache_size = 2; BEGIN; CREATE TABLE t (x);"
                                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)"
                                 " INSERT INTO t SELECT zeroblob(1000) FROM n;";
        const bool begun = sqlite3_exec(db, work, nullptr, nullptr, nullptr) == SQLITE_OK;
        const bool copied = QFile::copy(scratch + "-journal", m_path + "-journal");
        sqlite3_close(db);
        const QByteArray journalMagic("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7");  // written once it is synced
        const bool hot = contentOf(m_path + "-journal").startsWith(journalMagic);
        return begun && copied && hot && QFile::remove(scratch) && QFile::remove(m_path);
    }

private slots:
    void init() { m_path = m_dir.filePath(QString("db%1.mdb").arg(++m_n)); }

    void freshStoreLoadsDefaults()
    {
        QVERIFY2(load(), qPrintable(error));
        QCOMPARE(QStringList({s.WebRoot, s.IndexHTML, s.LPort}), QStringList({"/srv/default", "index.htm", "8080"}));
        QCOMPARE(clock.clockSpeed(), qint16(1));
        QCOMPARE(QStringList({s.RatioX1, s.RatioX2, s.RatioX3, s.RatioX4, s.RatioX5, s.RatioX6, s.RatioX8}),
                 QStringList({"1000", sep("500.2"), sep("349.54"), "253", sep("204.5"), "175", sep("125.485")}));
        QCOMPARE(trimHandOvers, 1);
        // Other tools know the store by these columns and fresh values.
        QCOMPARE(sqlRow("SELECT group_concat(sql, ';') FROM sqlite_master"),
                 QStringList("CREATE TABLE \"Quorandel\" (\"ClockSpeed\" INTEGER, \"DLog\" INTEGER, \"FLog\" INTEGER, "
                             "\"IndexHTML\" TEXT, \"LogC\" INTEGER, \"LogE\" INTEGER, \"ClockTime\" REAL, "
                             "\"LPort\" TEXT, \"RatioX1\" TEXT, \"RatioX2\" TEXT, \"RatioX3\" TEXT, "
                             "\"RatioX4\" TEXT, \"RatioX5\" TEXT, \"RatioX6\" TEXT, \"RatioX8\" TEXT, "
                             "\"WebRoot\" TEXT)"));
        QStringList quoted;
        for (const SettingsFieldRow &row : SettingsFields)
            quoted << QString("quote(%1)").arg(row.name);
        QCOMPARE(sqlRow(QString("SELECT %1 FROM Quorandel").arg(quoted.join(", "))).join(", "),
                 QString("0, 0, 0, ' ', 0, 0, 0.0, '0', '', '', '', '', '', '', '', ''"));
        QCOMPARE(sqlRow("SELECT count(*) FROM Quorandel"), QStringList("1"));
    }

    // Read as the store's numbers are read, which is not how the dialog reads
    // what is typed ("8080abc" is 8080 there).
    void portNumber_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("port");  // -1: none
        QTest::newRow("plain") << "8080" << 8080;
        QTest::newRow("blanks around") << " 80 " << 80;
        QTest::newRow("highest") << "65535" << 65535;
        QTest::newRow("too high") << "65536" << -1;
        QTest::newRow("half to even, up") << "81.5" << 82;
        QTest::newRow("comma groups thousands") << "1,000" << 1000;
        QTest::newRow("letters after") << "8080abc" << -1;
        QTest::newRow("not finite") << "nan" << -1;
    }
    void portNumber()
    {
        QFETCH(QString, stored);
        QFETCH(int, port);
        Settings settings;
        settings.LPort = stored;
        const std::optional<quint16> got = settings.portNumber();
        QCOMPARE(got.has_value(), port >= 0);
        if (got)
            QCOMPARE(int(*got), port);
    }

    // Next to what a fresh record loads as: ' ', '0', 0 and ''.
    void defaults_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("two spaces stay") << "IndexHTML" << "'  '" << "  ";
        QTest::newRow("empty index stays empty") << "IndexHTML" << "''" << "";
        QTest::newRow("port 0.0") << "LPort" << "' 0.0 '" << "8080";
        QTest::newRow("speed 7") << "ClockSpeed" << "7" << "7";
        QTest::newRow("trim 0 stays") << "RatioX5" << "'0'" << "0";
    }
    void defaults()
    {
        QFETCH(QString, column);
        QFETCH(QString, stored);
        QFETCH(QString, loaded);
        QVERIFY(load() && sql(QString("UPDATE Quorandel SET %1 = %2").arg(column, stored)));
        QVERIFY2(load(), qPrintable(error));
        const QHash<QString, QString> got = {{"IndexHTML", s.IndexHTML}, {"LPort", s.LPort},
                                             {"ClockSpeed", QString::number(clock.clockSpeed())},
                                             {"RatioX5", s.RatioX5}};
        QCOMPARE(got.value(column), loaded);
    }

    void registryReplacesStoredSwitches()
    {
        QVERIFY(load() && sql("UPDATE Quorandel SET DLog = 1, FLog = 1, LogC = 1, LogE = 1"));
        QVERIFY(load());
        QVERIFY(!s.FLog && !s.DLog && !s.LogC && !s.LogE && !s.LogOpen && logOpens == 0);
        QVERIFY(load("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n"
                     "\"FileLog\"=\"True\"\n\"LogConnects\"=\"TRUE\"\n\"LogErrors\"=\"True\"\n"));
        QVERIFY(s.FLog && !s.DLog && !s.LogC && s.LogE && s.LogOpen && logOpens == 1);
    }

    void roundTripOfAllFields()
    {
        QVERIFY(load());
        // FLog, DLog, LogC, LogE differ so that two swapped fields show.
        const Settings saved{"8081", "/srv/w", "a.htm;;b.html", "1", "2,5", "3", "4", "5", "6", "8",
                             true, false, true, false};
        clock.setSpeed(8);
        const double time = 45123.0 + 37 / 86400.0;
        clock.restoreTime(time);
        SettingsStore store(m_path);
        QVERIFY(store.Open() && SaveSettings(store, saved, clock, &error));

        SettingsStore reread(m_path);
        QVERIFY(reread.Open());
        const QVariantList expected = {8LL, 0LL, 1LL, "a.htm;;b.html", 1LL, 0LL, time, "8081",
                                       "1", "2,5", "3", "4", "5", "6", "8", "/srv/w"};
        for (const SettingsFieldRow &row : SettingsFields)
            QCOMPARE(reread.ReadField(row.field), expected.at(position(row.field)));
        clock.restoreTime(0);
        QVERIFY(load());
        QCOMPARE(clock.clockTime(), time);
        QCOMPARE(QStringList({s.LPort, s.WebRoot, s.IndexHTML}), QStringList({"8081", "/srv/w", "a.htm;;b.html"}));
    }

    // Files that a start cut short, or another tool, can leave in place of a
    // store that holds nothing yet: each loads as a fresh store.
    void emptyStoreIsReplaced_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::newRow("zero-length file") << "empty";
        QTest::newRow("database without tables") << "no tables";
        QTest::newRow("unfinished earlier creation") << "creating";
        QTest::newRow("journal of a deleted store") << "journal";
    }
    void emptyStoreIsReplaced()
    {
        QFETCH(QString, leftover);
        QFile f(leftover == "creating" ? m_path + ".creating" : m_path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(leftover == "creating" ? QByteArray(100, 'x') : QByteArray());
        f.close();
        if (leftover == "no tables")
            QVERIFY(sql("CREATE TABLE t (x); DROP TABLE t; PRAGMA user_version = 7"));
        if (leftover == "journal")
            QVERIFY(leaveJournalOfDeletedStore());
        QVERIFY2(load(), qPrintable(error));
        QCOMPARE(s.LPort, QString("8080"));
        QVERIFY2(load(), qPrintable(error));  // the fresh store was kept, not made again
        QVERIFY(sql("SELECT ClockSpeed FROM Quorandel"));
        QVERIFY(!QFile::exists(m_path + ".creating"));
    }

    // Starts killed at random moments while making the store: whatever they
    // leave, the next start opens it.
    void killedCreationLeavesUsableStore()
    {
        for (int round = 1; round <= 30; ++round) {
            QProcess creator;
            creator.start(QUORANDEL_STORE_CREATOR, {m_path});
            QVERIFY2(creator.waitForReadyRead(5000), qPrintable(creator.errorString()));
            QThread::msleep(QRandomGenerator::global()->bounded(5, 61));
            QVERIFY2(creator.state() == QProcess::Running, creator.readAllStandardError().constData());
            creator.kill();
            QVERIFY(creator.waitForFinished(5000));
            QVERIFY2(load(), qPrintable(QString("after kill %1: %2").arg(round).arg(error)));
        }
    }

    // Opening a FIFO blocks until a writer comes, so it must not be opened.
    void notARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("folder") << "folder";
        QTest::newRow("link to a device") << "device";
    }
    void notARegularFile()
    {
        QFETCH(QString, kind);
        const QByteArray file = QFile::encodeName(m_path);
        QVERIFY(kind != "fifo" || mkfifo(file.constData(), 0600) == 0);
        QVERIFY(kind != "folder" || QDir().mkdir(m_path));
        QVERIFY(kind != "device" || QFile::link("/dev/null", m_path));
        QProcess opener;
        opener.start(QUORANDEL_STORE_CREATOR, {"--once", m_path});
        const bool finished = opener.waitForFinished(5000);
        if (!finished) {
            opener.kill();
            opener.waitForFinished(5000);
        }
        QVERIFY2(finished, "opening the store hangs");
        const QString message = QString::fromLocal8Bit(opener.readAllStandardError());
        QCOMPARE(opener.exitCode(), 1);
        QVERIFY2(message.contains("is not a regular file") && message.contains(QFileInfo(m_path).fileName()),
                 qPrintable(message));
        QVERIFY(QFileInfo::exists(m_path) && !QFileInfo(m_path).isFile());
    }

    // Another program holds the store locked while the program starts.
    void lockedStore_data()
    {
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<bool>("opens");
        QTest::newRow("released after 1 s") << 1000 << true;
        QTest::newRow("held for 6.5 s") << 6500 << false;
    }
    void lockedStore()
    {
        QFETCH(int, holdMs);
        QFETCH(bool, opens);
        QVERIFY(load());
        int lockResult = -1;
        std::promise<void> locked;
        std::thread holder([&] {
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(m_path).constData(), &db);
            lockResult = sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
            locked.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            sqlite3_close(db);
        });
        locked.get_future().wait();
        QElapsedTimer waited;
        waited.start();
        const bool loaded = load();
        const qint64 ms = waited.elapsed();
        holder.join();
        QCOMPARE(lockResult, SQLITE_OK);
        QVERIFY2(loaded == opens, qPrintable(error));
        const QString waitedText = QString("%1 ms: %2").arg(ms).arg(error);
        if (opens)
            QVERIFY2(ms >= holdMs - 200, qPrintable(waitedText));  // the lock did hold it up
        else
            QVERIFY2(error.contains("locked") && ms >= 4500 && ms < holdMs, qPrintable(waitedText));
    }

    void damagedStoreIsLeftAlone_data()
    {
        QTest::addColumn<QString>("damage");  // empty: not a database at all
        QTest::addColumn<QString>("message");
        QTest::newRow("not a database") << "" << "is not a settings database";
        QTest::newRow("no record") << "DELETE FROM Quorandel" << "holds no settings record";
        QTest::newRow("no value") << "UPDATE Quorandel SET RatioX3 = NULL" << "field 10 (RatioX3) has no value";
        QTest::newRow("port not a number") << "UPDATE Quorandel SET LPort = 'http'" << "field 7 (LPort)";
        QTest::newRow("speed too large") << "UPDATE Quorandel SET ClockSpeed = 40000" << "field 0 (ClockSpeed)";
        QTest::newRow("fifteen fields") << "ALTER TABLE Quorandel DROP COLUMN WebRoot" << "has 15 fields";
        QTest::newRow("another table only") << "DROP TABLE Quorandel; CREATE TABLE Other (x)"
                                            << "no such table: Quorandel";
    }
    void damagedStoreIsLeftAlone()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        QFile f(m_path);
        if (damage.isEmpty())
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(4096, 'x')) == 4096);
        else
            QVERIFY(load() && sql(damage));
        f.close();
        const QByteArray before = contentOf(m_path);
        QVERIFY(!load());
        QVERIFY2(error.contains(message) && error.contains(QFileInfo(m_path).fileName()), qPrintable(error));
        QCOMPARE(contentOf(m_path), before);
    }
};

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
