// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RegistryHive.h"
#include "settings/RegMod.h"

#include <QTemporaryDir>
#include <QtTest>

static const QString kKey = QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n");

static QString v4(const QString &values)
{
    return "REGEDIT4\n\n" + kKey + values;
}

class TstRegistry : public QObject
{
    Q_OBJECT
private slots:
    void values_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("on");
        const QString s2047(2047, u'e'), s2048(2048, u'k');  // with its NUL, 2047 just fills the first buffer
        const QVariant isTrue(QString("True"));
        QTest::newRow("REG_SZ True") << v4("\"FileLog\"=\"True\"\n") << isTrue << true;
        QTest::newRow("lower case") << v4("\"FileLog\"=\"true\"\n") << QVariant(QString("true")) << false;
        QTest::newRow("REG_DWORD 1") << v4("\"FileLog\"=dword:00000001\n") << QVariant(qint32(1)) << false;
        QTest::newRow("REG_MULTI_SZ True, version 5")
            << "Windows Registry Editor Version 5.00\r\n\r\n" + kKey
                   + "\"FileLog\"=hex(7):54,00,72,00,75,00,65,00,00,00,00,00\r\n"
            << isTrue << true;
        QTest::newRow("REG_MULTI_SZ keeps separators") << v4("\"FileLog\"=hex(7):54,72,75,65,00,78,00,00\n")
                                                       << QVariant(QString::fromLatin1("True\0x", 6)) << false;
        QTest::newRow("REG_EXPAND_SZ continued") << v4("\"FileLog\"=hex(2):54,72,\\\n  75,65,00\n") << isTrue << true;
        QTest::newRow("REG_BINARY") << v4("\"FileLog\"=hex:54,72,75,65\n") << QVariant(QByteArray("True")) << false;
        QTest::newRow("empty REG_SZ data") << v4("\"FileLog\"=hex(1):\n") << QVariant(QString()) << false;
        QTest::newRow("2047 bytes") << v4("\"FileLog\"=\"" + s2047 + "\"\n") << QVariant(s2047) << false;
        QTest::newRow("2048 bytes") << v4("\"FileLog\"=\"" + s2048 + "\"\n") << QVariant(s2048) << false;
        QTest::newRow("names ignore case")
            << QString("REGEDIT4\n[hkey_local_machine\\software\\wow6432node\\QUORANDEL]\n\"FILELOG\"=\"True\"\n")
            << isTrue << true;
        QTest::newRow("other key")
            << QString("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorandel]\n\"FileLog\"=\"True\"\n") << QVariant()
            << false;
    }
    void values()
    {
        QFETCH(QString, file);
        QFETCH(QVariant, value);
        QFETCH(bool, on);
        const RegistryHive hive = RegistryHive::fromText(file);
        QCOMPARE(RegMod::ReadRegValue(hive, RegMod::LocalMachine, RegMod::QuorandelKey, "FileLog"), value);
        QCOMPARE(RegMod::readSwitch(hive, QStringLiteral("FileLog")), on);
    }

    // A value continued over hundreds of thousands of lines comes out whole
    // (joining them used to take time in the square of their number).
    void longContinuedValue()
    {
        const int lines = 400000;
        QString file = v4("\"FileLog\"=hex:");
        QByteArray expected;
        for (int i = 0; i < lines; ++i) {
            const uchar a = uchar(i), b = uchar(i >> 8);
            file += QString::asprintf("%02x,%02x%s\r\n", a, b, i + 1 < lines ? ",\\" : "");
            expected.append(char(a)).append(char(b));
        }
        const RegistryHive hive = RegistryHive::fromText(file);
        QVERIFY2(hive.error().isEmpty(), qPrintable(hive.error().left(200)));
        QCOMPARE(RegMod::ReadRegValue(hive, RegMod::LocalMachine, RegMod::QuorandelKey, "FileLog").toByteArray(),
                 expected);
    }

    void files_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // null: no file at all
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("warns");
        const QString text = "Windows Registry Editor Version 5.00\r\n" + kKey + "\"LogErrors\"=\"True\"\r\n";
        QTest::newRow("UTF-16 with BOM")
            << "\xff\xfe" + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2) << true << false;
        QTest::newRow("malformed line") << v4("\"LogErrors\"=\"True\"\ngarbage\n").toUtf8() << false << true;
        QTest::newRow("no file") << QByteArray() << false << false;
    }
    void files()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, on);
        QFETCH(bool, warns);
        QTemporaryDir dir;
        QFile f(dir.filePath("Quorandel.reg"));
        QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        f.close();
        const RegistryHive hive = RegistryHive::fromFile(f.fileName());
        QCOMPARE(RegMod::readSwitch(hive, QStringLiteral("LogErrors")), on);
        QCOMPARE(!hive.error().isEmpty(), warns);
    }
};

QTEST_MAIN(TstRegistry)
#include "tst_registry.moc"
