#include "clock/ClockEngine.h"
#include "platform/RegistryHive.h"
#include "settings/Settings.h"
#include "settings/SettingsSequence.h"
#include "settings/SettingsStore.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

const QString kRoot = QStringLiteral("/srv/quorandel-default");

QString sep(const QString &number)
{
    return QString(number).replace(u'.', QLocale::system().decimalPoint());
}

// Runs SQL on the store file from outside, as another tool would.
void sql(const QString &path, const QString &statement)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char *msg = nullptr;
    const int rc = sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, &msg);
    const QString error = msg ? QString::fromUtf8(msg) : QString();
    sqlite3_free(msg);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(error));
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

struct Loaded
{
    bool ok = false;
    QString error;
    Settings settings;
    int logOpens = 0;
    int trimHandOvers = 0;
};

Loaded load(const QString &path, const QString &registry = QString(), ClockEngine *clock = nullptr)
{
    ClockEngine ownClock;
    Loaded r;
    SettingsStore store(path);
    LoadHooks hooks;
    hooks.defaultWebRoot = kRoot;
    hooks.openRequestLog = [&] { return ++r.logOpens > 0; };
    hooks.putTrimsIntoConfig = [&] { ++r.trimHandOvers; };
    r.ok = LoadSettings(store, RegistryHive::fromText(registry), r.settings, clock ? *clock : ownClock,
                        hooks, &r.error);
    return r;
}

}  // namespace

class TstSettings : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.isValid()); m_path = m_dir.filePath(QString("db%1.mdb").arg(++m_n)); }
    void freshStoreLoadsDefaults();
    void defaults_data();
    void defaults();
    void registryReplacesStoredSwitches();
    void roundTripOfAllFields();
    void damagedStoreIsLeftAlone_data();
    void damagedStoreIsLeftAlone();

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_n = 0;
};

void TstSettings::freshStoreLoadsDefaults()
{
    ClockEngine clock;
    const Loaded r = load(m_path, QString(), &clock);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(QFile::exists(m_path));
    QCOMPARE(r.settings.WebRoot, kRoot);
    QCOMPARE(r.settings.IndexHTML, QString("index.htm"));
    QCOMPARE(r.settings.LPort, QString("8080"));
    QCOMPARE(clock.clockSpeed(), qint16(1));
    const QStringList trims = {r.settings.RatioX1, r.settings.RatioX2, r.settings.RatioX3, r.settings.RatioX4,
                               r.settings.RatioX5, r.settings.RatioX6, r.settings.RatioX8};
    QCOMPARE(trims, (QStringList{"1000", sep("500.2"), sep("349.54"), "253", sep("204.5"), "175", sep("125.485")}));
    QCOMPARE(r.trimHandOvers, 1);
    QVERIFY(!r.settings.LogOpen);
}

void TstSettings::defaults_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("one space index") << "IndexHTML" << "' '" << "index.htm";
    QTest::newRow("empty index stays") << "IndexHTML" << "''" << "";
    QTest::newRow("two spaces stay") << "IndexHTML" << "'  '" << "  ";
    QTest::newRow("port 0") << "LPort" << "'0'" << "8080";
    QTest::newRow("port 80") << "LPort" << "'80'" << "80";
    QTest::newRow("port 0.0") << "LPort" << "' 0.0 '" << "8080";
    QTest::newRow("speed 0") << "ClockSpeed" << "0" << "1";
    QTest::newRow("speed 7") << "ClockSpeed" << "7" << "7";
    QTest::newRow("empty trim") << "RatioX5" << "''" << sep("204.5");
    QTest::newRow("trim 0 stays") << "RatioX5" << "'0'" << "0";
    QTest::newRow("odd trim stays") << "RatioX5" << "'abc'" << "abc";
    QTest::newRow("web root kept") << "WebRoot" << "'/srv/www'" << "/srv/www";
}

void TstSettings::defaults()
{
    QFETCH(QString, column);
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    QVERIFY(load(m_path).ok);  // creates the fresh record
    sql(m_path, QString("UPDATE Quorandel SET %1 = %2").arg(column, stored));
    ClockEngine clock;
    const Loaded r = load(m_path, QString(), &clock);
    QVERIFY2(r.ok, qPrintable(r.error));
    const QHash<QString, QString> got = {
        {"IndexHTML", r.settings.IndexHTML}, {"LPort", r.settings.LPort},
        {"ClockSpeed", QString::number(clock.clockSpeed())}, {"RatioX5", r.settings.RatioX5},
        {"WebRoot", r.settings.WebRoot}};
    QCOMPARE(got.value(column), loaded);
}

void TstSettings::registryReplacesStoredSwitches()
{
    QVERIFY(load(m_path).ok);
    sql(m_path, "UPDATE Quorandel SET DLog = 1, FLog = 1, LogC = 1, LogE = 1");
    const Loaded none = load(m_path);
    QVERIFY(!none.settings.FLog && !none.settings.DLog && !none.settings.LogC && !none.settings.LogE);
    QCOMPARE(none.logOpens, 0);

    const Loaded on = load(m_path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n"
                                   "\"FileLog\"=\"True\"\n\"LogConnects\"=\"TRUE\"\n\"LogErrors\"=\"True\"\n");
    QVERIFY(on.settings.FLog && !on.settings.DLog && !on.settings.LogC && on.settings.LogE);
    QCOMPARE(on.logOpens, 1);
    QVERIFY(on.settings.LogOpen);
}

void TstSettings::roundTripOfAllFields()
{
    ClockEngine clock;
    Loaded first = load(m_path, QString(), &clock);
    QVERIFY(first.ok);
    Settings s = first.settings;
    s = {"8081", "/srv/w", "a.htm;;b.html", "1", "2,5", "3", "4", "5", "6", "8", true, true, true, true};
    clock.setClockSpeed(8);
    clock.setClockTime(45123.0 + 37 / 86400.0);
    SettingsStore store(m_path);
    QVERIFY(store.Open());
    QString error;
    QVERIFY2(SaveSettings(store, s, clock, &error), qPrintable(error));

    SettingsStore reread(m_path);
    QVERIFY(reread.Open());
    const QVariantList expected = {8LL, 1LL, 1LL, "a.htm;;b.html", 1LL, 1LL, clock.clockTime(), "8081",
                                   "1", "2,5", "3", "4", "5", "6", "8", "/srv/w"};
    for (int i = 0; i < SettingsStore::FieldCount; ++i)
        QCOMPARE(reread.ReadField(i), expected.at(i));
    ClockEngine again;
    const Loaded second = load(m_path, QString(), &again);
    QCOMPARE(again.clockTime(), clock.clockTime());
    QCOMPARE(second.settings.IndexHTML, s.IndexHTML);
}

void TstSettings::damagedStoreIsLeftAlone_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a database") << "garbage" << "is not a settings database";
    QTest::newRow("no table") << "DROP TABLE Quorandel; CREATE TABLE other (x)" << "cannot be read";
    QTest::newRow("no record") << "DELETE FROM Quorandel" << "holds no settings record";
    QTest::newRow("field without value") << "UPDATE Quorandel SET RatioX3 = NULL" << "field 10 (RatioX3) has no value";
    QTest::newRow("port not a number") << "UPDATE Quorandel SET LPort = 'http'" << "field 7 (LPort)";
    QTest::newRow("empty port") << "UPDATE Quorandel SET LPort = ''" << "field 7 (LPort)";
    QTest::newRow("speed not a number") << "UPDATE Quorandel SET ClockSpeed = 'fast'" << "field 0 (ClockSpeed)";
    QTest::newRow("speed too large") << "UPDATE Quorandel SET ClockSpeed = 40000" << "field 0 (ClockSpeed)";
    QTest::newRow("fifteen fields") << "ALTER TABLE Quorandel DROP COLUMN WebRoot" << "has 15 fields";
}

void TstSettings::damagedStoreIsLeftAlone()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    if (damage == "garbage") {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    } else {
        QVERIFY(load(m_path).ok);
        sql(m_path, damage);
    }
    const QByteArray before = digest(m_path);
    const Loaded r = load(m_path);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(message), qPrintable(r.error));
    QVERIFY2(r.error.contains(QFileInfo(m_path).fileName()), qPrintable(r.error));
    QCOMPARE(digest(m_path), before);
}

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
