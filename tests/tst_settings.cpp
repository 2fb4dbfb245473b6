// SPDX-License-Identifier: GPL-3.0-or-later
#include "Waits.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "platform/RegistryHive.h"
#include "settings/ExtensionSettings.h"
#include "settings/SessionJournal.h"
#include "settings/Settings.h"
#include "settings/SettingsSequence.h"
#include "settings/SettingsStore.h"

#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
QByteArray registry(const QByteArray &values)
{
    return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n" + values;
}
}  // namespace

class TstSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;
    Settings s;  // what the last load gave
    ClockEngine clock;
    QString error;
    int logOpens = 0, trimHandOvers = 0;

    bool load(const RegistryHive &registry = RegistryHive())
    {
        s = {};
        logOpens = trimHandOvers = 0;
        SettingsStore store(m_path);
        const LoadHooks hooks{"/srv/default", [this] { return ++logOpens > 0; }, [this] { ++trimHandOvers; }};
        return LoadSettings(store, registry, s, clock, hooks, &error);
    }
    // Changes the store from outside, as another tool would.
    bool sql(const QString &statement) const
    {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(m_path).constData(), &db);
        const int rc = sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc == SQLITE_OK;
    }

private slots:
    void init() { m_path = m_dir.filePath(QString("%1 %2").arg(QTest::currentTestFunction(), QTest::currentDataTag())); }

    // What a fresh store, each kind of stored value and the registry export
    // file load as. The logging switches come from that file alone, and only
    // the exact word "True" turns one on.
    void loaded_data()
    {
        QTest::addColumn<QString>("change");   // made to a fresh store first
        QTest::addColumn<QByteArray>("file");  // the registry's; null: none
        QTest::addColumn<QString>("loaded");   // web root|index|port as stored, as listened on|speed|trims|switches
        const QString fresh = "/srv/default|index.htm|8080 8080|1|1000 500.2 349.54 253 204.5 175 125.485|0 0 0 0 log0 trims1";
        const QString v5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\"
                           "Quorandel]\r\n\"LogErrors\"=hex(7):54,00,72,00,75,00,65,00,00,00,00,00\r\n";
        QTest::newRow("fresh") << "" << QByteArray() << fresh;
        QTest::newRow("stored values kept, switches not") << "WebRoot = '/w', ClockSpeed = 7, RatioX5 = '0', LPort = ' 80 ', "
                                                             "DLog = 1, FLog = 1, LogC = 1, LogE = 1" << QByteArray()
            << "/w|index.htm| 80  80|7|1000 500.2 349.54 253 0 175 125.485|0 0 0 0 log0 trims1";
        QTest::newRow("two spaces stay") << "IndexHTML = '  '" << QByteArray() << QString(fresh).replace("index.htm", "  ");
        QTest::newRow("empty index stays empty") << "IndexHTML = ''" << QByteArray() << QString(fresh).replace("index.htm", "");
        QTest::newRow("port too high") << "LPort = '65536'" << QByteArray() << QString(fresh).replace("8080 8080", "65536 none");
        QTest::newRow("REG_SZ") << "" << registry("\"FileLog\"=\"True\"\n\"LogConnects\"=\"TRUE\"\n")
                                << QString(fresh).replace("0 0 0 0 log0", "1 0 0 0 log1");
        QTest::newRow("REG_MULTI_SZ, UTF-16 file") << "" << "\xff\xfe" + QByteArray(reinterpret_cast<const char *>(v5.utf16()), v5.size() * 2)
                                                   << QString(fresh).replace("0 0 0 0", "0 0 0 1");
        QTest::newRow("malformed registry line") << "" << registry("\"LogErrors\"=\"True\"\ngarbage\n") << fresh;
    }
    void loaded()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, file);
        QFETCH(QString, loaded);
        QVERIFY(load() && (change.isEmpty() || sql("UPDATE Quorandel SET " + change)));
        QVERIFY(file.isNull() || writeFile(m_path + ".reg", file));
        QVERIFY2(load(RegistryHive::fromFile(m_path + ".reg")), qPrintable(error));
        QStringList trims;
        for (const QString *trim : s.trims())
            trims << *trim;
        const std::optional<quint16> port = s.portNumber();
        const QString switches = QString("%1 %2 %3 %4 log%5 trims%6").arg(s.FLog).arg(s.DLog).arg(s.LogC).arg(s.LogE)
                                     .arg(s.LogOpen && logOpens == 1).arg(trimHandOvers);
        // Numbers made at load are written the way the user's locale writes them.
        const QString trimTexts = trims.join(' ').replace(QLocale::system().decimalPoint(), ".");
        QCOMPARE(QStringList({s.WebRoot, s.IndexHTML, s.LPort + ' ' + (port ? QString::number(*port) : "none"),
                              QString::number(clock.clockSpeed()), trimTexts, switches}).join('|'), loaded);
    }

    // Each of the sixteen fields goes back to its own position with its type.
    void savedFieldsKeepPositionAndType()
    {
        QVERIFY(load());
        // The four switches differ so that two swapped fields show.
        const Settings saved{"8081", "/w", "a;;b", "1", "2,5", "3", "4", "5", "6", "8", true, false, true, false};
        clock.setSpeed(8);
        const double time = 45123.0 + 37 / 86400.0;
        clock.restoreTime(time);
        SettingsStore store(m_path), reread(m_path);
        QVERIFY(store.Open() && SaveSettings(store, saved, clock, &error) && reread.Open());
        const QVariantList expected = {8LL, 0LL, 1LL, "a;;b", 1LL, 0LL, time, "8081", "1", "2,5", "3", "4", "5", "6", "8", "/w"};
        for (const SettingsFieldRow &row : SettingsFields)
            QCOMPARE(reread.ReadField(row.field), expected.at(position(row.field)));
        clock.restoreTime(0);
        QVERIFY(load());
        QCOMPARE(clock.clockTime(), time);
    }

    // A damaged store is reported, naming the file, and left as it was. What a
    // start cut short or another tool leaves of a store that holds nothing
    // yet is no settings to lose: it is replaced by a fresh store, then kept.
    void damagedStore_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("message");  // empty: replaced
        QTest::newRow("zero-length file") << "empty" << "";
        QTest::newRow("unfinished earlier creation") << "creating" << "";
        QTest::newRow("not a database") << "junk" << "is not a settings database";
        QTest::newRow("FIFO: opening it would hang") << "fifo" << "is not a regular file";
        QTest::newRow("no record") << "DELETE FROM Quorandel" << "holds no settings record";
        QTest::newRow("no value") << "UPDATE Quorandel SET RatioX3 = NULL" << "field 10 (RatioX3) has no value";
        QTest::newRow("port not a number") << "UPDATE Quorandel SET LPort = 'http'" << "field 7 (LPort)";
        QTest::newRow("fifteen fields") << "ALTER TABLE Quorandel DROP COLUMN WebRoot" << "has 15 fields";
    }
    void damagedStore()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        const QHash<QString, std::function<bool()>> make{
            {"empty", [&] { return writeFile(m_path, ""); }},
            {"creating", [&] { return writeFile(m_path + ".creating", QByteArray(100, 'x')); }},
            {"junk", [&] { return writeFile(m_path, QByteArray(4096, 'x')); }},
            {"fifo", [&] { return ::mkfifo(QFile::encodeName(m_path).constData(), 0600) == 0; }}};
        QVERIFY(make.contains(damage) ? make[damage]() : load() && sql(damage));
        const QByteArray before = contentOf(m_path);
        if (message.isEmpty()) {
            QVERIFY2(load() && s.LPort == "8080" && sql("UPDATE Quorandel SET LPort = '81'"), qPrintable(error));
            QVERIFY2(load() && s.LPort == "81" && !QFile::exists(m_path + ".creating"), qPrintable(error));
            return;
        }
        QVERIFY(!load());
        QVERIFY2(error.contains(message) && error.contains(QFileInfo(m_path).fileName()), qPrintable(error));
        QCOMPARE(contentOf(m_path), before);
    }

    // Every key has a default, and anything wrong in the file becomes one
    // warning and the default; LCC is never half on.
    void extensionFile_data()
    {
        QTest::addColumn<QByteArray>("content");  // null: no file
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("changed");     // the values that differ from the defaults
        QTest::addColumn<QStringList>("warned");  // what each warning says, in any order
        QTest::newRow("no file") << QByteArray() << 0600 << "" << QStringList();
        QTest::newRow("every key") << QByteArray("; a club's file\n[remote]\npassword=Stellwerk 7\n[fastclock]\n"
                                                 "enabled=true\ngroup=239.1.2.3\nport=2001\nttl=4\nname=Bebra\n"
                                                 "text=Hall 2\ninterval=15\n[display]\naddress=10.0.0.8\nport=7800\n")
                                   << 0600 << "password=Stellwerk 7|enabled=1|group=239.1.2.3|port=2001|ttl=4|"
                                              "name=Bebra|text=Hall 2|interval=15|display=10.0.0.8:7800" << QStringList();
        for (const char *line : {"[fastclock]\ngroup=10.0.0.1", "[fastclock]\ngroup=clocks.local", "[fastclock]\nport=70000",
                                 "[fastclock]\ninterval=0", "[fastclock]\ninterval=2.5", "[fastclock]\nttl=300",
                                 "[fastclock]\nenabled=maybe", "[display]\naddress=192.168.1", "[lcc]\nhub=h:0",
                                 "[lcc]\nnode=02.01.0D.00.03", "[lcc]\nclock=fast", "[lcc]\ndate=1970-02-30",
                                 "[session]\nresume=soon", "[session]\ndate=1957-06-31", "[alarms]\nx=25:00 Late"}) {
            const QByteArray quoted = QByteArray(line).replace('\n', ' ');
            QTest::newRow(quoted.constData()) << QByteArray(line) << 0600 << "" << QStringList("quorandel.conf: " + quoted);
        }
        QTest::newRow("unknown keys named, never quoted")
            << QByteArray("password=secret1\n[fastclock]\nport=2002\ncolour=secret2\n[Display]\nport=1\n") << 0600
            << "port=2002" << QStringList{"password= (outside", "[fastclock] colour=", "[Display] port="};
        QTest::newRow("password, comma") << QByteArray("[remote]\npassword=secret, def") << 0600
                                         << "password=secret,def" << QStringList("double quotes");
        QTest::newRow("password readable by the group") << QByteArray("[remote]\npassword=pw") << 0640 << "password=pw" << QStringList("chmod 600");
        QTest::newRow("readable, no password") << QByteArray("[display]\nport=7799") << 0644 << "" << QStringList();
        QTest::newRow("LCC, every key")
            << QByteArray("[lcc]\nhub=jmri.local:12022\nnode=02.01.0d.00.00.03\nclock=alternate2\ncontrol=true\n"
                          "date=1955-06-30\nname=Quorandel\ndescription=\"Hall 2, master\"\n") << 0600
            << "lcc=on|hub=jmri.local:12022|node=02010d000003|clock=010100000103|control=1|date=1955-06-30|"
               "lccname=Quorandel|description=Hall 2, master" << QStringList();
        QTest::newRow("LCC, hub without node") << QByteArray("[lcc]\nhub=localhost") << 0600 << "hub=localhost:12021"
                                               << QStringList("[lcc] hub= is set but [lcc] node= is not; LCC stays off");
        QTest::newRow("session, every key")
            << QByteArray("[session]\nresume=running\ndate=1957-06-14\n[alarms]\n1=\"06:45 First train, platform 2\"\n"
                          "2= 6:00  stop  End of session\n3=6:60 Late\n4=18:00 stopover at Dale\n5=18:00Late\n6=7:00 stop") << 0600
            << "resume=1|sessiondate=1957-06-14|alarms=405 First train, platform 2;360 stop End of session;"
               "1080 stopover at Dale;420 stop " << QStringList{"[alarms] 3=6:60 Late is not", "5=18:00Late has no space"};
        QTest::newRow("throttles") << QByteArray("[jmri]\nserver=jmri.local\ncontrol=true\n[dccex]\nstation=[fd00::9]:2561\n"
                                                 "[z21]\nstation=192.168.0.111\n") << 0600
                                   << "jmri=jmri.local:12080 on|dccex=fd00::9:2561|z21=192.168.0.111:21105" << QStringList();
        QTest::newRow("throttles, a Z21 by name, a port of 0") << QByteArray("[z21]\nstation=z21.local\n[jmri]\nserver=h:0") << 0600
                                                               << "" << QStringList{"[z21] station=z21.local is not an IP address", "[jmri] server=h:0"};
        QTest::newRow("LCC, name of 70 bytes") << "[lcc]\nname=" + QByteArray(70, 'x') << 0600
                                               << "lccname=" + QString(62, u'x') << QStringList("longer than 62 bytes");
    }
    void extensionFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, mode);
        QFETCH(QStringList, warned);
        // A file of its own each time: QSettings caches the files it has parsed.
        const QString path = m_path + "/quorandel.conf";
        QVERIFY(content.isNull() || (QDir().mkpath(m_path) && writeFile(path, content)
                                     && ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0));
        const ExtensionSettings e = ExtensionSettings::read(path);
        const auto &f = e.fastClock;
        const auto &l = e.lcc;
        const auto n = [](qint64 v) { return QString::number(v); };
        const auto id = [](quint64 v) { return QString("%1").arg(v, 12, 16, QLatin1Char('0')); };
        QStringList alarms;
        for (const Alarm &a : e.session.alarms)
            alarms << QString("%1 %2%3").arg(a.minuteOfDay).arg(a.stop ? "stop " : "", a.text);
        const QStringList fields = {
            "password=" + e.remote.password, "enabled=" + n(f.enabled), "group=" + f.group, "port=" + n(f.port),
            "ttl=" + n(f.ttl), "name=" + f.name, "text=" + f.text, "interval=" + n(f.intervalSeconds),
            "display=" + e.display.address + ':' + n(e.display.port), QString("lcc=") + (l.enabled() ? "on" : "off"),
            "hub=" + l.hubHost + ':' + n(l.hubPort), "node=" + id(l.nodeId), "clock=" + id(l.clockId),
            "control=" + n(l.control), "date=" + l.date.toString(Qt::ISODate), "lccname=" + l.name,
            "description=" + l.description, "resume=" + n(e.session.resumeRunning),
            "sessiondate=" + e.session.date.toString(Qt::ISODate), "alarms=" + alarms.join(';'),
            "jmri=" + e.jmri.host + ':' + n(e.jmri.port) + (e.jmri.control ? " on" : ""),
            "dccex=" + e.dccEx.host + ':' + n(e.dccEx.port), "z21=" + e.z21.host + ':' + n(e.z21.port)};
        const QString defaults = "password=|enabled=0|group=239.50.50.20|port=2000|ttl=1|name=Quorandel|text=|"
                                 "interval=2|display=192.168.1.99:7799|lcc=off|hub=:12021|node=000000000000|"
                                 "clock=010100000100|control=0|date=1970-01-01|lccname=|description=|resume=0|sessiondate=|alarms=|"
                                 "jmri=:12080|dccex=:2560|z21=:21105";
        QStringList changed;
        for (int i = 0; i < fields.size(); ++i)
            if (fields[i] != defaults.split('|').value(i))
                changed << fields[i];
        QTEST(changed.join('|'), "changed");
        const QString all = e.warnings.join('\n');
        QVERIFY2(e.warnings.size() == warned.size() && !all.contains("secret"), qPrintable(all));
        for (const QString &w : warned)
            QVERIFY2(all.contains(w), qPrintable(all));
    }

    // What the start-up takes from the journal: the record's save 10 s ago,
    // the journal written `age` seconds before it (negative: after it, so the
    // session ended without saving); [session] resume= and date=.
    void journal_data()
    {
        QTest::addColumn<QByteArray>("journal");  // null: none; "entry": one written at 06:02:40, 8:1, running
        QTest::addColumn<int>("age");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("start");       // resumed speeds start-now date | what is said
        const QByteArray entry = "entry";
        QTest::newRow("fresh") << QByteArray() << 0 << "stopped 1957-06-14" << "0 0 1957-06-14|";
        QTest::newRow("orderly exit: the date goes on") << entry << 0 << "stopped 1957-06-14" << "0 0 1957-06-16|";
        QTest::newRow("journal older than the record") << entry << 60 << "running 1957-06-14" << "0 0 1957-06-16|";
        QTest::newRow("unclean end") << entry << -5 << "stopped 1957-06-14"
                                     << "1 4/8 0 1957-06-16|Resumed the session that ended without saving: 06:02 at 8:1";
        QTest::newRow("unclean end, resume=running") << entry << -5 << "running 1957-06-14"
                                                     << "1 4/8 1 1957-06-16|Resumed the session that ended without saving: 06:02 at 8:1, running";
        QTest::newRow("a new date in the file starts afresh") << entry << -5 << "stopped 1960-01-01"
                                                              << "1 4/8 0 1960-01-01|Resumed the session that ended without saving: 06:02 at 8:1";
        QTest::newRow("damaged") << QByteArray(R"({"journal":1,"time":"soon"})") << -5 << "running 1957-06-14"
                                 << "0 0 1957-06-14|The session journal";
        QTest::newRow("cut short") << QByteArray("{\"countedSpeed\":8,\"date\":\"1957-06") << -5 << "running -" << "0 0 |The session journal";
    }
    void journal()
    {
        QFETCH(QByteArray, journal);
        QFETCH(int, age);
        QFETCH(QString, session);
        const QDateTime recordSaved = QDateTime::currentDateTimeUtc().addSecs(-10);
        const QString dir = m_path + '/';
        QVERIFY(QDir().mkpath(dir));
        if (journal == "entry")
            journal = Journal::text({recordSaved.addSecs(-age), ClockTimeMath::timeOfDay(6, 2) + 40 / 86400.0, 4, 8,
                                     ClockState::Running, QDate(1957, 6, 16), QDate(1957, 6, 14)});
        QVERIFY(journal.isNull() || writeFile(dir + "QuorandelSession.json", journal));
        SessionJournal file(dir + "QuorandelDB.mdb", clock);
        const JournalRead read = file.read();
        const ExtensionSettings::Session conf{session.startsWith("running"), QDate::fromString(session.section(' ', 1), Qt::ISODate), {}};
        const SessionStart start = planSessionStart(read, recordSaved, conf);
        const QString speeds = start.resumed ? QString(" %1/%2").arg(start.chosenSpeed).arg(start.countedSpeed) : "";
        const QString said = read.status == JournalRead::Status::Damaged ? read.problem.left(19) : start.said;
        QTEST(QString("%1%2 %3 %4|%5").arg(start.resumed).arg(speeds).arg(start.startNow).arg(start.date.toString(Qt::ISODate), said), "start");
        // Never trusted, never overwritten: a damaged one is kept aside, and
        // a second one beside the first.
        if (read.status != JournalRead::Status::Damaged)
            return;
        QCOMPARE(contentOf(dir + "QuorandelSession.json.damaged"), journal);
        QVERIFY(writeFile(dir + "QuorandelSession.json", "{"));
        QCOMPARE(SessionJournal(dir + "QuorandelDB.mdb", clock).read().status, JournalRead::Status::Damaged);
        QCOMPARE(contentOf(dir + "QuorandelSession.json.damaged"), journal);
        QCOMPARE(QDir(dir).entryList({"QuorandelSession.json.damaged-*"}).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
