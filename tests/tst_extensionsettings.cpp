#include "settings/ExtensionSettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Every value in one line, so that a comparison shows which one differs.
QString describe(const ExtensionSettings &s)
{
    const auto &f = s.fastClock;
    return QStringLiteral("password=%1 enabled=%2 group=%3 port=%4 ttl=%5 name=%6 text=%7 interval=%8 "
                          "display=%9:%10")
        .arg(s.remote.password)
        .arg(f.enabled)
        .arg(f.group)
        .arg(f.port)
        .arg(f.ttl)
        .arg(f.name, f.text)
        .arg(f.intervalSeconds)
        .arg(s.display.address)
        .arg(s.display.port);
}

// A file in its own fresh folder: QSettings keeps parsed files in a cache.
class ConfFile
{
public:
    explicit ConfFile(const QByteArray &content, mode_t mode = 0600)
    {
        QFile file(path());
        m_ok = file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        file.close();
        m_ok = m_ok && ::chmod(QFile::encodeName(path()).constData(), mode) == 0;
    }
    bool isValid() const { return m_ok && m_dir.isValid(); }
    QString path() const { return m_dir.filePath(QStringLiteral("quorandel.conf")); }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

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
        QCOMPARE(describe(s), QStringLiteral("password= enabled=0 group=239.50.50.20 port=2000 ttl=1 "
                                             "name=Quorandel text= interval=2 display=192.168.1.99:7799"));
        QVERIFY(s.warnings.isEmpty());
    }

    void everyKeyRead()
    {
        const ConfFile file("; a club's file\n"
                            "[remote]\npassword=Stellwerk 7\n"
                            "[fastclock]\nenabled=true\ngroup=239.1.2.3\nport=2001\nttl=4\nname=Bebra\n"
                            "text=Hall 2\ninterval=15\n"
                            "[display]\naddress=10.0.0.8\nport=7800\n");
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        QCOMPARE(describe(s), QStringLiteral("password=Stellwerk 7 enabled=1 group=239.1.2.3 port=2001 ttl=4 "
                                             "name=Bebra text=Hall 2 interval=15 display=10.0.0.8:7800"));
        QCOMPARE(s.warnings, QStringList());
    }

    void malformedValue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("named");  // what the warning must quote
        QTest::newRow("group not multicast") << QByteArray("[fastclock]\ngroup=10.0.0.1") << "group=10.0.0.1";
        QTest::newRow("group short form") << QByteArray("[fastclock]\ngroup=239.50.50") << "group=239.50.50";
        QTest::newRow("group a name") << QByteArray("[fastclock]\ngroup=clocks.local") << "group=clocks.local";
        QTest::newRow("port 0") << QByteArray("[fastclock]\nport=0") << "port=0";
        QTest::newRow("port 70000") << QByteArray("[fastclock]\nport=70000") << "port=70000";
        QTest::newRow("port abc") << QByteArray("[fastclock]\nport=abc") << "port=abc";
        QTest::newRow("port with a comma") << QByteArray("[fastclock]\nport=20,00") << "port=20,00";
        QTest::newRow("interval 0") << QByteArray("[fastclock]\ninterval=0") << "interval=0";
        QTest::newRow("interval 16") << QByteArray("[fastclock]\ninterval=16") << "interval=16";
        QTest::newRow("interval 2.5") << QByteArray("[fastclock]\ninterval=2.5") << "interval=2.5";
        QTest::newRow("ttl 300") << QByteArray("[fastclock]\nttl=300") << "ttl=300";
        QTest::newRow("enabled maybe") << QByteArray("[fastclock]\nenabled=maybe") << "enabled=maybe";
        QTest::newRow("display address short") << QByteArray("[display]\naddress=192.168.1") << "address=192.168.1";
        QTest::newRow("display address IPv6") << QByteArray("[display]\naddress=::1") << "address=::1";
        QTest::newRow("display port 0") << QByteArray("[display]\nport=0") << "port=0";
        QTest::newRow("QSettings notation") << QByteArray("[fastclock]\nname=@Variant(x)") << "name=";
    }

    void malformedValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, named);
        const ConfFile file(content);
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        QCOMPARE(describe(s), describe(ExtensionSettings()));
        QCOMPARE(s.warnings.size(), 1);
        QVERIFY2(s.warnings[0].startsWith(file.path()) && s.warnings[0].contains(named), qPrintable(s.warnings[0]));
    }

    // Named, never quoted: an unknown key may hold a password. The rest of
    // the file still counts.
    void unknownKeysAndSections()
    {
        const ConfFile file("password=secret1\n[fastclock]\nport=2002\ncolour=secret2\n"
                            "[Display]\nport=1\n[clock]\nspeed=8\n");
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        QCOMPARE(s.fastClock.port, quint16(2002));
        QCOMPARE(s.display.port, quint16(7799));
        QCOMPARE(s.remote.password, QString());
        const QString all = s.warnings.join(u'\n');
        QCOMPARE(s.warnings.size(), 4);
        for (const char *key : {"password= (outside any section)", "[fastclock] colour=", "[Display] port=",
                                "[clock] speed="})
            QVERIFY2(all.contains(QLatin1String(key)), key);
        QVERIFY(!all.contains(QStringLiteral("secret")));
    }

    void brokenSectionLine()
    {
        const ConfFile file("[fastclock\nport=2003\n");
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        QVERIFY(!s.warnings.isEmpty());
        QVERIFY2(s.warnings[0].contains(QStringLiteral("not INI")), qPrintable(s.warnings[0]));
    }

    // What the user wrote, through QSettings' quirks: a comma outside quotes
    // splits a value into a list, quotes keep commas and semicolons,
    // escapes make line breaks.
    void textValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("warned");  // empty: no warning
        const QByteArray name20 = "Modultreffen Bebra 2", text255(255, 'x');
        QTest::newRow("name of 20") << "[fastclock]\nname=" + name20 << QString(name20) << "";
        QTest::newRow("name of 21 cut") << "[fastclock]\nname=" + name20 + "!" << QString(name20) << "20 characters";
        QTest::newRow("text of 255") << "[fastclock]\ntext=" + text255 << QString(text255) << "";
        QTest::newRow("text of 256 cut") << "[fastclock]\ntext=" + text255 + "y" << QString(text255)
                                         << "255 characters";
        QTest::newRow("line breaks in text") << QByteArray("[fastclock]\ntext=Hall 2\\nupstairs\\r\\nleft")
                                             << "Hall 2 upstairs  left" << "";
        QTest::newRow("comma in name") << QByteArray("[fastclock]\nname=Smith, Jones") << "Smith, Jones" << "";
        QTest::newRow("quoted comma in name") << QByteArray("[fastclock]\nname=\"Club, North\"") << "Club, North"
                                              << "";
        QTest::newRow("quoted semicolon in text") << QByteArray("[fastclock]\ntext=\"Hall 2; upstairs\"")
                                                  << "Hall 2; upstairs" << "";
        QTest::newRow("quoted password with blanks") << QByteArray("[remote]\npassword=\" a, b \"") << " a, b "
                                                     << "";
        QTest::newRow("comma in password") << QByteArray("[remote]\npassword=abc, def") << "abc,def"
                                           << "double quotes";
    }

    void textValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        QFETCH(QString, warned);
        const ConfFile file(content);
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        const QString got = content.startsWith("[remote]") ? s.remote.password
                            : content.contains("name=")    ? s.fastClock.name
                                                           : s.fastClock.text;
        QCOMPARE(got, value);
        QCOMPARE(s.warnings.size(), warned.isEmpty() ? 0 : 1);
        if (!warned.isEmpty())
            QVERIFY2(s.warnings[0].contains(warned), qPrintable(s.warnings[0]));
        QVERIFY(!s.warnings.join(u' ').contains(QStringLiteral("abc")));
    }

    void passwordFileReadableByOthers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("warned");
        QTest::newRow("0644 with a password") << 0644 << QByteArray("[remote]\npassword=pw") << true;
        QTest::newRow("0640 with a password") << 0640 << QByteArray("[remote]\npassword=pw") << true;
        QTest::newRow("0604 with a password") << 0604 << QByteArray("[remote]\npassword=pw") << true;
        QTest::newRow("0600 with a password") << 0600 << QByteArray("[remote]\npassword=pw") << false;
        QTest::newRow("0644 without one") << 0644 << QByteArray("[remote]\npassword=\n[fastclock]\nport=9") << false;
    }

    void passwordFileReadableByOthers()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, content);
        QFETCH(bool, warned);
        const ConfFile file(content, mode_t(mode));
        QVERIFY(file.isValid());
        const ExtensionSettings s = ExtensionSettings::read(file.path());
        QCOMPARE(s.warnings.size(), warned ? 1 : 0);
        if (warned)
            QVERIFY2(s.warnings[0].contains(QStringLiteral("chmod 600")), qPrintable(s.warnings[0]));
    }
};

QTEST_APPLESS_MAIN(TstExtensionSettings)
#include "tst_extensionsettings.moc"
