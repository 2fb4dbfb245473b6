#include "web/RequestLog.h"

#include <QTemporaryDir>
#include <QtTest>

static QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

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
        QCOMPARE(contentsOf(path), QByteArray("earlier run\r\na\r\n"));
        log.WriteLog("b");
        QCOMPARE(contentsOf(path), QByteArray("earlier run\r\na\r\nb\r\n"));
    }
};

QTEST_APPLESS_MAIN(TstRequestLog)
#include "tst_requestlog.moc"
