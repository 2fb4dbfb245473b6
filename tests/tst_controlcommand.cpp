// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ControlCommand.h"

#include <QtTest>

namespace {
// "start", "stop", "set speed=4 time=07:05", or the reason of a refusal.
QByteArray describe(const ControlCommand &c)
{
    using A = ControlCommand::Action;
    if (c.action != A::Set)
        return c.action == A::Start ? "start" + c.reason : c.action == A::Stop ? "stop" + c.reason : c.reason;
    QByteArray text = "set" + c.reason;
    if (c.speed)
        text += " speed=" + QByteArray::number(*c.speed);
    if (c.hour || c.minute)
        text += QStringLiteral(" time=%1:%2").arg(c.hour.value_or(-1), 2, 10, QChar(u'0'))
                    .arg(c.minute.value_or(-1), 2, 10, QChar(u'0')).toLatin1();
    return text;
}
}  // namespace

class TstControlCommand : public QObject
{
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("start") << QByteArray("action=start") << QByteArray("start");
        QTest::newRow("stop") << QByteArray("action=stop") << QByteArray("stop");
        QTest::newRow("speed and time in one step") << QByteArray("action=set&speed=8&time=7:05") << QByteArray("set speed=8 time=07:05");
        QTest::newRow("any order, colon escaped") << QByteArray("time=23%3A59&action=set") << QByteArray("set time=23:59");
        for (int n : {1, 2, 3, 4, 5, 6})
            QTest::addRow("speed %d", n) << "action=set&speed=" + QByteArray::number(n) << "set speed=" + QByteArray::number(n);

        QTest::newRow("no action") << QByteArray("speed=4") << QByteArray("The action is missing: start, stop or set.");
        QTest::newRow("unknown action") << QByteArray("action=reset") << QByteArray("Unknown action \"reset\": start, stop or set.");
        QTest::newRow("unknown field") << QByteArray("action=start&force=1") << QByteArray("Unknown field \"force\".");
        QTest::newRow("start with a speed") << QByteArray("action=start&speed=4") << QByteArray("The action start takes no speed or time.");
        QTest::newRow("set alone") << QByteArray("action=set") << QByteArray("Set needs a speed, a time or both.");
        QTest::newRow("speed 7") << QByteArray("action=set&speed=7") << QByteArray("Speed \"7\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        QTest::newRow("speed 04") << QByteArray("action=set&speed=04") << QByteArray("Speed \"04\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        QTest::newRow("hour 24, the dialog's words") << QByteArray("action=set&time=24:00") << QByteArray("Enter Less Than 24");
        QTest::newRow("bad minute refuses the speed too") << QByteArray("action=set&speed=4&time=9:60") << QByteArray("Enter Less Than 60");
        QTest::newRow("one minute digit") << QByteArray("action=set&time=7:5") << QByteArray("Time \"7:5\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("three hour digits") << QByteArray("action=set&time=007:05") << QByteArray("Time \"007:05\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("non-ASCII digits") << QByteArray("action=set&time=%D9%A7:05") << QByteArray("Time \"??:05\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("form refused") << QByteArray("action=start&action=stop") << QByteArray("The field \"action\" is given twice.");
    }
    void read()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, command);
        QCOMPARE(describe(readControlCommand(decodeFormBody(body))), command);
    }
};

QTEST_APPLESS_MAIN(TstControlCommand)
#include "tst_controlcommand.moc"
