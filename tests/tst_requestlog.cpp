// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/RequestLog.h"

#include "Fixtures.h"

#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

class TstRequestLog : public QObject
{
    Q_OBJECT
    const QLocale m_us{QLocale::English, QLocale::UnitedStates};
    const QLocale m_de{QLocale::German, QLocale::Germany};

private slots:
    // No time zone; at exactly midnight (to the second) the date alone.
    void lines()
    {
        const QDate day(2024, 3, 5);
        QCOMPARE(RequestLog::connectLine(QDateTime(day, QTime(14, 7, 9)), "192.168.1.20", "/srv/www/my file.txt", m_de),
                 QByteArray("05.03.24 14:07:09: 192.168.1.20: /srv/www/my file.txt"));
        QCOMPARE(RequestLog::errorLine(QDateTime(day, QTime(14, 7, 9)), 3, 11, "Division by zero", m_us),
                 QByteArray("3/5/24 2:07:09 PM: (3) Error 11 - Division by zero"));
        QCOMPARE(RequestLog::dateTimeText(QDateTime(day, QTime(0, 0, 0, 500)), m_de), QByteArray("05.03.24"));
        QCOMPARE(RequestLog::dateTimeText(QDateTime(day, QTime(0, 0, 1)), m_us), QByteArray("3/5/24 12:00:01 AM"));
    }

    // A path from the network cannot add a line of its own to the log.
    void controlCharactersInPaths_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("CR LF forged line") << QByteArray("/w/x\r\nFORGED: 10.0.0.66: /etc/shadow")
                                           << QByteArray("/w/x%0D%0AFORGED: 10.0.0.66: /etc/shadow");
        QTest::newRow("tab, escape, DEL") << QByteArray("/w/\t\x1b[2J\x7f") << QByteArray("/w/%09%1B[2J%7F");
        QTest::newRow("NUL and 0x1F") << QByteArray("/w/a\0b\x1f", 7) << QByteArray("/w/a%00b%1F");
        QTest::newRow("printable and UTF-8 kept") << QByteArray("/w/%41 \xc3\xa4~") << QByteArray("/w/%41 \xc3\xa4~");
    }
    void controlCharactersInPaths()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, logged);
        const QByteArray line = RequestLog::connectLine(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)), "10.0.0.5", path, m_de);
        QCOMPARE(line, "05.03.24 14:07:09: 10.0.0.5: " + logged);
    }

    void appendsAndFlushesEveryLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("PortulaLog.txt");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("earlier run\r\n");
        }
        RequestLog log;
        QVERIFY(log.open(path));
        log.WriteLog("a");
        QCOMPARE(contentOf(path), QByteArray("earlier run\r\na\r\n"));
        log.WriteLog("b");
        QCOMPARE(contentOf(path), QByteArray("earlier run\r\na\r\nb\r\n"));
    }

    // A log that cannot be opened is reported once, in the program's own
    // category, which the user's logging rules can silence.
    void unopenableLogWarnsOnce_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("warns");
        QTest::newRow("default rules") << QString() << true;
        QTest::newRow("silenced") << QStringLiteral("quorandel.warning=false") << false;
    }
    void unopenableLogWarnsOnce()
    {
        QFETCH(QString, rules);
        QFETCH(bool, warns);
        QLoggingCategory::setFilterRules(rules);
        const auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules({}); });
        QTemporaryDir dir;
        const QString path = dir.filePath("missing/PortulaLog.txt");
        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
                "^cannot open the request log " + QRegularExpression::escape(path) + ": No such file"));
        QTest::failOnWarning(QRegularExpression("."));
        RequestLog log;
        QVERIFY(!log.open(path));
        QVERIFY(!log.open(path));
        QVERIFY(!log.isOpen());
    }
};

QTEST_APPLESS_MAIN(TstRequestLog)
#include "tst_requestlog.moc"
