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
        QTest::newRow("0644") << 0644 << QByteArray("pw") << true;
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
};

QTEST_APPLESS_MAIN(TstExtensionSettings)
#include "tst_extensionsettings.moc"
