// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ExtensionSettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Every value in one line, so that a failed comparison shows which differs.
QString describe(const ExtensionSettings &s)
{
    const auto &f = s.fastClock;
    return QStringLiteral("%1|%2|%3:%4|ttl %5|%6|%7|%8 s|%9:%10")
        .arg(s.remote.password).arg(f.enabled).arg(f.group).arg(f.port).arg(f.ttl).arg(f.name, f.text)
        .arg(f.intervalSeconds).arg(s.display.address).arg(s.display.port);
}

const QString kDefaults = QStringLiteral("|0|239.50.50.20:2000|ttl 1|Quorandel||2 s|192.168.1.99:7799");

// Each file in a fresh folder: QSettings caches the files it has parsed.
ExtensionSettings readFile(const QByteArray &content, mode_t mode = 0600)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("quorandel.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()
        || ::chmod(QFile::encodeName(file.fileName()).constData(), mode) != 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.close();
    return ExtensionSettings::read(file.fileName());
}

}  // namespace

class TstExtensionSettings : public QObject
{
    Q_OBJECT
private slots:
    void defaultsWithoutFile()
    {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        QCOMPARE(ExtensionSettings::standardPath(), home.path() + "/Quorandel/quorandel.conf");
        const ExtensionSettings s = ExtensionSettings::read(ExtensionSettings::standardPath());
        QCOMPARE(describe(s) + s.warnings.join(u'\n'), kDefaults);
    }

    void everyKeyRead()
    {
        const ExtensionSettings s = readFile("; a club's file\n[remote]\npassword=Stellwerk 7\n"
                                             "[fastclock]\nenabled=true\ngroup=239.1.2.3\nport=2001\nttl=4\n"
                                             "name=Bebra\ntext=Hall 2\ninterval=15\n"
                                             "[display]\naddress=10.0.0.8\nport=7800\n");
        QCOMPARE(describe(s) + s.warnings.join(u'\n'),
                 QStringLiteral("Stellwerk 7|1|239.1.2.3:2001|ttl 4|Bebra|Hall 2|15 s|10.0.0.8:7800"));
    }

    void malformedValue_data()
    {
        QTest::addColumn<QByteArray>("line");
        for (const char *line : {"[fastclock]\ngroup=10.0.0.1", "[fastclock]\ngroup=clocks.local", "[fastclock]\nport=0",
                                 "[fastclock]\nport=70000", "[fastclock]\nport=20,00", "[fastclock]\ninterval=0",
                                 "[fastclock]\ninterval=16", "[fastclock]\ninterval=2.5", "[fastclock]\nttl=300",
                                 "[fastclock]\nenabled=maybe", "[display]\naddress=192.168.1", "[display]\nport=0"})
            QTest::newRow(QByteArray(line).replace('\n', ' ').constData()) << QByteArray(line);
    }

    // Warned once, quoting the key and the value, and the default kept.
    void malformedValue()
    {
        QFETCH(QByteArray, line);
        const ExtensionSettings s = readFile(line);
        QCOMPARE(describe(s), kDefaults);
        QCOMPARE(s.warnings.size(), 1);
        const QString keyAndValue = QString::fromLatin1(line.mid(line.indexOf('\n') + 1));
        QVERIFY2(s.warnings[0].contains("/quorandel.conf: ") && s.warnings[0].contains(keyAndValue), qPrintable(s.warnings[0]));
    }

    // Named but never quoted (it may be a misspelt password); the rest counts.
    void unknownKeysAndSections()
    {
        const ExtensionSettings s = readFile("password=secret1\n[fastclock]\nport=2002\ncolour=secret2\n[Display]\nport=1\n");
        QCOMPARE(describe(s), QString(kDefaults).replace(":2000", ":2002"));
        const QString all = s.warnings.join(u'\n');
        QCOMPARE(s.warnings.size(), 3);
        for (const char *key : {"password= (outside", "[fastclock] colour=", "[Display] port="})
            QVERIFY2(all.contains(QLatin1String(key)), key);
        QVERIFY(!all.contains(QStringLiteral("secret")));
    }

    // Through QSettings' quirks: a comma outside quotes splits a value into a
    // list, quotes keep commas and semicolons, escapes make line breaks.
    void textValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("warned");  // empty: no warning
        const QByteArray name20 = "Modultreffen Bebra 2", text255(255, 'x');
        QTest::newRow("name of 21") << "[fastclock]\nname=" + name20 + "!" << QString(name20) << "20 characters";
        QTest::newRow("text of 256") << "[fastclock]\ntext=" + text255 + "y" << QString(text255) << "255 characters";
        QTest::newRow("line breaks") << QByteArray("[fastclock]\ntext=Hall 2\\nup\\r\\nleft") << "Hall 2 up  left" << "";
        QTest::newRow("comma") << QByteArray("[fastclock]\nname=Smith, Jones") << "Smith, Jones" << "";
        QTest::newRow("quoted") << QByteArray("[fastclock]\ntext=\"Hall 2; up, left\"") << "Hall 2; up, left" << "";
        QTest::newRow("password, comma") << QByteArray("[remote]\npassword=abc, def") << "abc,def" << "double quotes";
    }
    void textValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QString, warned);
        const ExtensionSettings s = readFile(content);
        const auto &f = s.fastClock;
        QCOMPARE(content.contains("password") ? s.remote.password : content.contains("name=") ? f.name : f.text, value);
        QCOMPARE(s.warnings.size(), warned.isEmpty() ? 0 : 1);
        QVERIFY(warned.isEmpty() || (s.warnings[0].contains(warned) && !s.warnings[0].contains(QStringLiteral("abc"))));
    }

    void passwordFileReadableByOthers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("warned");
        QTest::newRow("0640") << 0640 << QByteArray("pw") << true;
        QTest::newRow("0600") << 0600 << QByteArray("pw") << false;
        QTest::newRow("0644, no password") << 0644 << QByteArray() << false;
    }
    void passwordFileReadableByOthers()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, password);
        QFETCH(bool, warned);
        const ExtensionSettings s = readFile("[remote]\npassword=" + password, mode_t(mode));
        QCOMPARE(s.warnings.size(), warned ? 1 : 0);
        QVERIFY(!warned || s.warnings[0].contains(QStringLiteral("chmod 600")));
    }

    // The [lcc] section, in one line per reading so that a wrong field shows.
    static QString describeLcc(const ExtensionSettings::Lcc &l)
    {
        return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
            .arg(l.enabled() ? "on" : "off", l.hubHost).arg(l.hubPort)
            .arg(l.nodeId, 12, 16, QLatin1Char('0')).arg(l.clockId, 12, 16, QLatin1Char('0'))
            .arg(l.control).arg(l.date.toString(Qt::ISODate), l.name, l.description);
    }

    void lccRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");
        QTest::newRow("off by default") << QByteArray("[display]\nport=7799\n")
                                        << "off||12021|000000000000|010100000100|0|1970-01-01||";
        QTest::newRow("every key") << QByteArray("[lcc]\nhub=jmri.local:12022\nnode=02.01.0d.00.00.03\nclock=alternate2\n"
                                                 "control=true\ndate=1955-06-30\nname=Quorandel\n"
                                                 "description=\"Hall 2, master\"\n")
                                   << "on|jmri.local|12022|02010d000003|010100000103|1|1955-06-30|Quorandel|Hall 2, master";
        QTest::newRow("host alone") << QByteArray("[lcc]\nhub=10.0.0.7\nnode=05.01.01.01.22.00\n")
                                    << "on|10.0.0.7|12021|050101012200|010100000100|0|1970-01-01||";
        QTest::newRow("IPv6") << QByteArray("[lcc]\nhub=\"[::1]:1234\"\nnode=05.01.01.01.22.00\nclock=realtime\n")
                              << "on|::1|1234|050101012200|010100000101|0|1970-01-01||";
        QTest::newRow("own clock ID") << QByteArray("[lcc]\nhub=h\nnode=05.01.01.01.22.00\nclock=05.01.01.01.22.01\n")
                                      << "on|h|12021|050101012200|050101012201|0|1970-01-01||";
    }
    void lccRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        const ExtensionSettings s = readFile(content);
        QCOMPARE(describeLcc(s.lcc) + s.warnings.join(u'\n'), read);
    }

    void lccMalformed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("said");
        QTest::newRow("hub without node") << QByteArray("hub=localhost") << "[lcc] hub= is set but [lcc] node= is not; LCC stays off";
        QTest::newRow("port 0") << QByteArray("hub=h:0") << "[lcc] hub=h:0 is not host or host:port";
        QTest::newRow("port empty") << QByteArray("hub=h:") << "[lcc] hub=h: is not host";
        QTest::newRow("port word") << QByteArray("hub=h:lcc") << "[lcc] hub=h:lcc is not host";
        QTest::newRow("node short") << QByteArray("node=02.01.0D.00.03") << "[lcc] node=02.01.0D.00.03 is not a node ID";
        QTest::newRow("clock") << QByteArray("clock=fast") << "[lcc] clock=fast is not default";
        QTest::newRow("control") << QByteArray("control=yes") << "[lcc] control=yes is neither true nor false";
        QTest::newRow("date") << QByteArray("date=1970-02-30") << "[lcc] date=1970-02-30 is not a date";
        QTest::newRow("date form") << QByteArray("date=1.1.1970") << "is not a date";
        QTest::newRow("name") << QByteArray("name=") + QByteArray(70, 'x') << "[lcc] name= is longer than 62 bytes";
    }
    // Warned once, the default kept; LCC never half on.
    void lccMalformed()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, said);
        const ExtensionSettings s = readFile("[lcc]\n" + line + '\n');
        QCOMPARE(s.warnings.size(), 1);
        QVERIFY2(s.warnings[0].contains(said), qPrintable(s.warnings[0]));
        QVERIFY(!s.lcc.enabled());
        QCOMPARE(s.lcc.name.toUtf8().size() <= 62, true);
    }
};

QTEST_APPLESS_MAIN(TstExtensionSettings)
#include "tst_extensionsettings.moc"
