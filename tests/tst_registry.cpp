#include "platform/RegistryHive.h"
#include "settings/RegMod.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kKey = QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n");

QString v4(const QString &values)
{
    return QStringLiteral("REGEDIT4\n\n") + kKey + values;
}

QString v5(const QString &values)
{
    return QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n") + kKey + values;
}

QVariant read(const QString &text, const QString &name)
{
    return RegMod::ReadRegValue(RegistryHive::fromText(text), RegMod::LocalMachine, RegMod::QuorandelKey, name);
}

}  // namespace

class TstRegistry : public QObject
{
    Q_OBJECT
private slots:
    void switches_data();
    void switches();
    void valueTypes_data();
    void valueTypes();
    void longTextReadWhole();
    void files_data();
    void files();
};

void TstRegistry::switches_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("on");
    QTest::newRow("REG_SZ True") << v4("\"FileLog\"=\"True\"\n") << true;
    QTest::newRow("lower case") << v4("\"FileLog\"=\"true\"\n") << false;
    QTest::newRow("trailing blank") << v4("\"FileLog\"=\"True \"\n") << false;
    QTest::newRow("dword 1") << v4("\"FileLog\"=dword:00000001\n") << false;
    QTest::newRow("multi_sz v5 utf-16") << v5("\"FileLog\"=hex(7):54,00,72,00,75,00,65,00,00,00,00,00\r\n") << true;
    QTest::newRow("multi_sz v4 bytes") << v4("\"FileLog\"=hex(7):54,72,75,65,00,00\n") << true;
    QTest::newRow("multi_sz two strings") << v4("\"FileLog\"=hex(7):54,72,75,65,00,78,00,00\n") << false;
    QTest::newRow("expand_sz continued") << v4("\"FileLog\"=hex(2):54,72,\\\n  75,65,00\n") << true;
    QTest::newRow("binary") << v4("\"FileLog\"=hex:54,72,75,65\n") << false;
    QTest::newRow("big-endian dword type") << v4("\"FileLog\"=hex(5):54,72,75,65\n") << false;
    QTest::newRow("names ignore case") << QString("REGEDIT4\n[hkey_local_machine\\software\\wow6432node\\QUORANDEL]\n\"FILELOG\"=\"True\"\n") << true;
    QTest::newRow("other key") << QString("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorandel]\n\"FileLog\"=\"True\"\n") << false;
    QTest::newRow("deleted key") << QString("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n\"FileLog\"=\"True\"\n") << false;
    QTest::newRow("missing value") << v4("\"DebugLog\"=\"True\"\n") << false;
    QTest::newRow("no header") << QString(kKey + "\"FileLog\"=\"True\"\n") << false;
}

void TstRegistry::switches()
{
    QFETCH(QString, file);
    QFETCH(bool, on);
    QCOMPARE(RegMod::readSwitch(RegistryHive::fromText(file), QStringLiteral("FileLog")), on);
}

void TstRegistry::valueTypes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("dword") << v4("\"X\"=dword:fffffffe\n") << QVariant(qint32(-2));
    QTest::newRow("sz escapes") << v4("\"X\"=\"a\\\"b\\\\c\"\n") << QVariant(QString("a\"b\\c"));
    QTest::newRow("multi_sz keeps separators") << v4("\"X\"=hex(7):61,00,62,00,00\n") << QVariant(QString::fromLatin1("a\0b", 3));
    QTest::newRow("empty sz data") << v4("\"X\"=hex(1):\n") << QVariant(QString());
    QTest::newRow("short multi_sz") << v4("\"X\"=hex(7):00\n") << QVariant(QString());
    QTest::newRow("binary bytes") << v4("\"X\"=hex:01,ff\n") << QVariant(QByteArray("\x01\xff"));
    QTest::newRow("v5 wide narrowed") << v5("\"X\"=hex(2):e9,00,00,00\r\n") << QVariant(QString::fromLatin1("\xe9"));
    QTest::newRow("missing gives default") << v4("") << QVariant();
}

void TstRegistry::valueTypes()
{
    QFETCH(QString, file);
    QFETCH(QVariant, value);
    QCOMPARE(read(file, QStringLiteral("x")), value);
}

// A value longer than the first 2048-byte query must come through whole.
void TstRegistry::longTextReadWhole()
{
    const QString text(3000, u'k');
    QCOMPARE(read(v4("\"X\"=\"" + text + "\"\n"), "X").toString(), text);
    const QString exact(2047, u'e');  // with its NUL, exactly the first buffer
    QCOMPARE(read(v4("\"X\"=\"" + exact + "\"\n"), "X").toString(), exact);
}

void TstRegistry::files_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("on");
    QTest::addColumn<bool>("warns");
    QTest::newRow("utf-16 with BOM")
        << (QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char *>(v5("\"LogErrors\"=\"True\"\r\n").utf16()),
                                                v5("\"LogErrors\"=\"True\"\r\n").size() * 2))
        << true << false;
    QTest::newRow("utf-8") << v4("\"LogErrors\"=\"True\"\n").toUtf8() << true << false;
    QTest::newRow("malformed line") << v4("\"LogErrors\"=\"True\"\ngarbage\n").toUtf8() << false << true;
    QTest::newRow("not a registry file") << QByteArray("hello") << false << true;
}

void TstRegistry::files()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, on);
    QFETCH(bool, warns);
    QTemporaryDir dir;
    const QString path = dir.filePath("Quorandel.reg");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const RegistryHive hive = RegistryHive::fromFile(path);
    QCOMPARE(RegMod::readSwitch(hive, QStringLiteral("LogErrors")), on);
    QCOMPARE(!hive.error().isEmpty(), warns);
    const RegistryHive missing = RegistryHive::fromFile(dir.filePath("none.reg"));
    QVERIFY(missing.error().isEmpty());
    QVERIFY(!missing.hasKey("HKEY_LOCAL_MACHINE\\" + RegMod::QuorandelKey));
}

QTEST_MAIN(TstRegistry)
#include "tst_registry.moc"
