#include "web/RequestLog.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QLocale UnitedStates(QLocale::English, QLocale::UnitedStates);
const QLocale Germany(QLocale::German, QLocale::Germany);

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

}  // namespace

class TstRequestLog : public QObject
{
    Q_OBJECT
private slots:
    void dateTimeText_data();
    void dateTimeText();
    void lines();
    void appendsAndFlushesEveryLine();
    void closedLogWritesNothing();
    void unopenableLogStaysClosed();
};

void TstRequestLog::dateTimeText_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QByteArray>("text");
    const QDate day(2024, 3, 5);
    QTest::newRow("en_US afternoon") << UnitedStates << QDateTime(day, QTime(14, 7, 9)) << QByteArray("3/5/24 2:07:09 PM");
    QTest::newRow("de_DE afternoon") << Germany << QDateTime(day, QTime(14, 7, 9)) << QByteArray("05.03.24 14:07:09");
    QTest::newRow("midnight") << UnitedStates << QDateTime(day, QTime(0, 0)) << QByteArray("3/5/24");
    QTest::newRow("within midnight's second") << Germany << QDateTime(day, QTime(0, 0, 0, 500)) << QByteArray("05.03.24");
    QTest::newRow("a second later") << UnitedStates << QDateTime(day, QTime(0, 0, 1)) << QByteArray("3/5/24 12:00:01 AM");
    QTest::newRow("zone left out") << Germany << QDateTime(day, QTime(9, 0), Qt::UTC) << QByteArray("05.03.24 09:00:00");
}

void TstRequestLog::dateTimeText()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, when);
    QFETCH(QByteArray, text);
    QCOMPARE(RequestLog::dateTimeText(when, locale), text);
}

void TstRequestLog::lines()
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    QCOMPARE(RequestLog::connectLine(when, "192.168.1.20", "/srv/www/my file.txt", Germany),
             QByteArray("05.03.24 14:07:09: 192.168.1.20: /srv/www/my file.txt"));
    QCOMPARE(RequestLog::errorLine(when, 3, 11, "Division by zero", UnitedStates),
             QByteArray("3/5/24 2:07:09 PM: (3) Error 11 - Division by zero"));
}

void TstRequestLog::appendsAndFlushesEveryLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PortulaLog.txt");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier run, a long line\r\n");
    }
    RequestLog log;
    QVERIFY(log.open(path));
    QVERIFY(log.isOpen());
    log.WriteLog("a");
    QCOMPARE(contentsOf(path), QByteArray("earlier run, a long line\r\na\r\n"));
    log.WriteLog("b");
    log.close();
    QVERIFY(!log.isOpen());
    QCOMPARE(contentsOf(path), QByteArray("earlier run, a long line\r\na\r\nb\r\n"));
}

void TstRequestLog::closedLogWritesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PortulaLog.txt");
    RequestLog log;
    log.WriteLog("never opened");
    QVERIFY(!QFile::exists(path));
    QVERIFY(log.open(path));
    log.close();
    log.WriteLog("after close");
    QCOMPARE(contentsOf(path), QByteArray());
}

void TstRequestLog::unopenableLogStaysClosed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/PortulaLog.txt");
    RequestLog log;
    QVERIFY(!log.open(path));
    QVERIFY(!log.isOpen());
    log.WriteLog("lost");
    QVERIFY(!QFile::exists(path));
}

QTEST_APPLESS_MAIN(TstRequestLog)
#include "tst_requestlog.moc"
