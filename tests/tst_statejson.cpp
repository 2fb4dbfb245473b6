#include "web/StateJson.h"

#include <QJsonDocument>
#include <QtTest>

class TstStateJson : public QObject
{
    Q_OBJECT
private slots:
    void json_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("control");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("running at 4:1") << 6 * 3600 + 5 * 60 + 9 << true << false << 4 << 250 << true
                                        << QByteArray(R"({"time":"06:05:09","running":true,"held":false,"speed":4,"interval":250,"control":true})");
        QTest::newRow("held after a time set") << 23 * 3600 + 59 * 60 + 59 << false << true << 3 << 333 << false
                                               << QByteArray(R"({"time":"23:59:59","running":false,"held":true,"speed":3,"interval":333,"control":false})");
        QTest::newRow("midnight, stopped") << 0 << false << false << 1 << 1000 << false
                                           << QByteArray(R"({"time":"00:00:00","running":false,"held":false,"speed":1,"interval":1000,"control":false})");
        QTest::newRow("a whole day wraps") << 86400 + 61 << true << false << 8 << 125 << true
                                           << QByteArray(R"({"time":"00:01:01","running":true,"held":false,"speed":8,"interval":125,"control":true})");
        QTest::newRow("before midnight wraps back") << -1 << true << false << 8 << 125 << true
                                                    << QByteArray(R"({"time":"23:59:59","running":true,"held":false,"speed":8,"interval":125,"control":true})");
    }
    void json()
    {
        QFETCH(int, seconds);
        QFETCH(bool, running);
        QFETCH(bool, held);
        QFETCH(int, speed);
        QFETCH(int, interval);
        QFETCH(bool, control);
        QFETCH(QByteArray, json);
        const QByteArray made = stateJson({seconds, running, held, speed, interval, control});
        QCOMPARE(made, json);
        QJsonParseError error;
        QVERIFY(QJsonDocument::fromJson(made, &error).isObject());
        QCOMPARE(error.error, QJsonParseError::NoError);
    }
};

QTEST_APPLESS_MAIN(TstStateJson)
#include "tst_statejson.moc"
