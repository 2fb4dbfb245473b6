#include "web/ControlCommand.h"

#include <QtTest>

namespace {
// "start", "stop", "set speed=4 time=07:05", "set time=23:59", or "refused".
QByteArray describe(const ControlCommand &c)
{
    using A = ControlCommand::Action;
    switch (c.action) {
    case A::Refused: return "refused";
    case A::Start: return "start";
    case A::Stop: return "stop";
    case A::Set: break;
    }
    QByteArray text = "set";
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
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("start") << QByteArray("action=start") << QByteArray("start") << QByteArray();
        QTest::newRow("stop") << QByteArray("action=stop") << QByteArray("stop") << QByteArray();
        QTest::newRow("speed and time in one step") << QByteArray("action=set&speed=8&time=7:05") << QByteArray("set speed=8 time=07:05") << QByteArray();
        QTest::newRow("fields in any order") << QByteArray("time=23:59&action=set") << QByteArray("set time=23:59") << QByteArray();
        QTest::newRow("midnight") << QByteArray("action=set&time=00:00") << QByteArray("set time=00:00") << QByteArray();
        QTest::newRow("colon escaped") << QByteArray("action=set&time=12%3A30") << QByteArray("set time=12:30") << QByteArray();
        for (int n : {1, 2, 3, 4, 5, 6})
            QTest::addRow("speed %d", n) << "action=set&speed=" + QByteArray::number(n) << "set speed=" + QByteArray::number(n) << QByteArray();

        QTest::newRow("no action") << QByteArray("speed=4") << QByteArray("refused") << QByteArray("The action is missing: start, stop or set.");
        QTest::newRow("empty body") << QByteArray() << QByteArray("refused") << QByteArray("The action is missing: start, stop or set.");
        QTest::newRow("unknown action") << QByteArray("action=reset") << QByteArray("refused") << QByteArray("Unknown action \"reset\": start, stop or set.");
        QTest::newRow("unknown field") << QByteArray("action=start&force=1") << QByteArray("refused") << QByteArray("Unknown field \"force\".");
        QTest::newRow("start with a speed") << QByteArray("action=start&speed=4") << QByteArray("refused") << QByteArray("The action start takes no speed or time.");
        QTest::newRow("set alone") << QByteArray("action=set") << QByteArray("refused") << QByteArray("Set needs a speed, a time or both.");
        QTest::newRow("speed 7") << QByteArray("action=set&speed=7") << QByteArray("refused") << QByteArray("Speed \"7\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        QTest::newRow("speed 04") << QByteArray("action=set&speed=04") << QByteArray("refused") << QByteArray("Speed \"04\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        QTest::newRow("empty speed") << QByteArray("action=set&speed=&time=1:00") << QByteArray("refused") << QByteArray("Speed \"\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        QTest::newRow("hour 24, the dialog's words") << QByteArray("action=set&time=24:00") << QByteArray("refused") << QByteArray("Enter Less Than 24");
        QTest::newRow("hour first, as the dialog") << QByteArray("action=set&time=25:75") << QByteArray("refused") << QByteArray("Enter Less Than 24");
        QTest::newRow("minute 60") << QByteArray("action=set&time=12:60") << QByteArray("refused") << QByteArray("Enter Less Than 60");
        QTest::newRow("bad time refuses the speed too") << QByteArray("action=set&speed=4&time=9:99") << QByteArray("refused") << QByteArray("Enter Less Than 60");
        QTest::newRow("one minute digit") << QByteArray("action=set&time=7:5") << QByteArray("refused") << QByteArray("Time \"7:5\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("three hour digits") << QByteArray("action=set&time=007:05") << QByteArray("refused") << QByteArray("Time \"007:05\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("no colon") << QByteArray("action=set&time=0705") << QByteArray("refused") << QByteArray("Time \"0705\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("non-ASCII digits") << QByteArray("action=set&time=%D9%A7:05") << QByteArray("refused") << QByteArray("Time \"??:05\" is not a time. Enter H:MM or HH:MM.");
        QTest::newRow("form refused") << QByteArray("action=start&action=stop") << QByteArray("refused") << QByteArray("The field \"action\" is given twice.");
    }
    void read()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reason);
        const ControlCommand c = readControlCommand(decodeFormBody(body));
        QCOMPARE(describe(c), command);
        QCOMPARE(c.reason, reason);
    }
};

QTEST_APPLESS_MAIN(TstControlCommand)
#include "tst_controlcommand.moc"
