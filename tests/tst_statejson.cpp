// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/StateJson.h"

#include "clock/ClockSnapshot.h"

#include <QtTest>

Q_DECLARE_METATYPE(ClockSnapshot)

class TstStateJson : public QObject
{
    Q_OBJECT
private slots:
    void json_data()
    {
        QTest::addColumn<ClockSnapshot>("snapshot");
        QTest::addColumn<bool>("control");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("running at 4:1") << ClockSnapshot{ClockState::Running, 0.0, 6 * 3600 + 5 * 60 + 9, 4, 4, 250} << true
                                        << QByteArray(R"({"time":"06:05:09","running":true,"held":false,"speed":4,"interval":250,"control":true})");
        QTest::newRow("running, a chosen speed waits") << ClockSnapshot{ClockState::Running, 0.0, 60, 8, 1, 1000} << false
                                                       << QByteArray(R"({"time":"00:01:00","running":true,"held":false,"speed":1,"interval":1000,"nextSpeed":8,"control":false})");
        QTest::newRow("held, last second") << ClockSnapshot{ClockState::Held, 0.0, 86399, 3, 3, 333} << false
                                           << QByteArray(R"({"time":"23:59:59","running":false,"held":true,"speed":3,"interval":333,"control":false})");
        QTest::newRow("a whole day wraps") << ClockSnapshot{ClockState::Running, 0.0, 86400 + 61, 8, 8, 125} << true
                                           << QByteArray(R"({"time":"00:01:01","running":true,"held":false,"speed":8,"interval":125,"control":true})");
        QTest::newRow("before midnight wraps back") << ClockSnapshot{ClockState::Running, 0.0, -1, 8, 8, 125} << true
                                                    << QByteArray(R"({"time":"23:59:59","running":true,"held":false,"speed":8,"interval":125,"control":true})");
    }
    void json()
    {
        QFETCH(ClockSnapshot, snapshot);
        QFETCH(bool, control);
        QFETCH(QByteArray, json);
        QCOMPARE(stateJson(snapshot, control), json);
    }
};

QTEST_APPLESS_MAIN(TstStateJson)
#include "tst_statejson.moc"
