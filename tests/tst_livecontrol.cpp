// SPDX-License-Identifier: GPL-3.0-or-later
// The live page's control without sockets: the form, the command it holds
// and the password gate (the state it shows: tst_liveclock).

#include "web/ControlCommand.h"
#include "web/ControlGate.h"
#include "web/FormBody.h"

#include <QtTest>

Q_DECLARE_METATYPE(ControlGate::Verdict)

namespace {

using V = ControlGate::Verdict;
const char *const VerdictNames[] = {"Accepted", "ControlOff", "Missing", "Wrong", "LockedOut"};

// "start", "stop", "set speed=4 time=07:05", or the reason of a refusal.
QByteArray described(const ControlCommand &c)
{
    using A = ControlCommand::Action;
    if (c.action != A::Set)
        return c.action == A::Start ? "start" : c.action == A::Stop ? "stop" : c.reason;
    QByteArray text = "set";
    if (c.speed)
        text += " speed=" + QByteArray::number(*c.speed);
    if (c.hour)
        text += QStringLiteral(" time=%1:%2").arg(*c.hour, 2, 10, QChar(u'0')).arg(*c.minute, 2, 10, QChar(u'0')).toLatin1();
    return text;
}

}  // namespace

class TstLiveControl : public QObject
{
    Q_OBJECT
private slots:
    // The form is decoded first (its refusals quote the peer on one short,
    // printable line), then read as a command.
    void control_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("command");
        const auto row = [](const char *name, const QByteArray &body, const QByteArray &command) {
            QTest::newRow(name) << body << command;
        };
        row("any order, colon escaped", "time=23%3A59&speed=8&action=set", "set speed=8 time=23:59");
        for (int n : {1, 2, 3, 4, 5, 6})
            QTest::addRow("speed %d", n) << "action=set&speed=" + QByteArray::number(n) << "set speed=" + QByteArray::number(n);
        row("plus is a blank", "action=st+art", "Unknown action \"st art\": start, stop or set.");
        row("no action", "speed=4", "The action is missing: start, stop or set.");
        row("unknown field", "action=start&force=1", "Unknown field \"force\".");
        row("start with a speed", "action=start&speed=4", "The action start takes no speed or time.");
        row("set alone", "action=set", "Set needs a speed, a time or both.");
        row("speed 04", "action=set&speed=04", "Speed \"04\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.");
        row("hour 24, the dialog's words", "action=set&time=24:00", "Enter Less Than 24");
        row("bad minute refuses the speed too", "action=set&speed=4&time=9:60", "Enter Less Than 60");
        row("non-ASCII digits", "action=set&time=%D9%A7:05", "Time \"??:05\" is not a time. Enter H:MM or HH:MM.");
        row("no '='", "action", "The field \"action\" has no '='.");
        row("empty name", "=stop", "A field has no name.");
        row("twice once decoded, CR LF quoted", "a%0D%0Ab=1&a%0d%0ab=2", "The field \"a??b\" is given twice.");
        row("long quote cut", QByteArray(50, 'z') + "=1&" + QByteArray(50, 'z') + "=2",
            "The field \"" + QByteArray(40, 'z') + "...\" is given twice.");
        row("'%' one digit", "a=%4", "The field \"a=%4\" has a '%' without two hex digits.");
        row("NUL byte", QByteArray("action=st\0art", 13), "The form holds a NUL byte.");
        row("NUL byte escaped", "action=start%00", "The field \"action=start%00\" holds a NUL byte.");
        row("largest form", "action=start&x=" + QByteArray(MaxFormBodyBytes - 15, 'x'), "Unknown field \"x\".");
        row("one byte too many", "action=start&x=" + QByteArray(MaxFormBodyBytes - 14, 'x'), "The form is larger than 1024 bytes.");
    }
    void control()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, command);
        QCOMPARE(described(readControlCommand(decodeFormBody(body))), command);
    }

    // The comparison takes the same time whatever is guessed; a timing test
    // would only be noise, so these rows check that it is right.
    void credentials_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<V>("verdict");
        QTest::newRow("right, scheme in any case, blanks around") << QByteArray("two words") << QByteArray(" bEARER   two words ") << V::Accepted;
        QTest::newRow("UTF-8 password") << QByteArray("p\xc3\xa4ss") << QByteArray("Bearer p\xc3\xa4ss") << V::Accepted;
        QTest::newRow("shorter") << QByteArray("secret") << QByteArray("Bearer secre") << V::Wrong;
        QTest::newRow("letter case") << QByteArray("secret") << QByteArray("Bearer Secret") << V::Wrong;
        QTest::newRow("Latin-1 for UTF-8") << QByteArray("p\xc3\xa4ss") << QByteArray("Bearer p\xe4ss") << V::Wrong;
        QTest::newRow("scheme alone") << QByteArray("secret") << QByteArray("Bearer   ") << V::Missing;
        QTest::newRow("other scheme, or none") << QByteArray("secret") << QByteArray("Basic c2VjcmV0") << V::Missing;
        QTest::newRow("control off") << QByteArray() << QByteArray("Bearer ") << V::ControlOff;
    }
    void credentials()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, authorization);
        QFETCH(V, verdict);
        QCOMPARE(ControlGate(password).check(authorization, QHostAddress("192.168.1.20")), verdict);
    }

    // Steps "ms address password verdict" against the password "right", on a
    // clock that only moves when a step says so.
    void lockOut_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QStringList fourWrong{"0 10.0.0.1 a Wrong", "1000 10.0.0.1 b Wrong", "2000 10.0.0.1 c Wrong", "3000 10.0.0.1 d Wrong"};
        QTest::newRow("fifth wrong locks that address for 60 s, even the right password")
            << fourWrong + QStringList{"4000 10.0.0.1 e LockedOut", "4000 10.0.0.2 right Accepted", "5000 10.0.0.1 - LockedOut",
                                       "63999 10.0.0.1 right LockedOut", "64000 10.0.0.1 right Accepted"};
        QTest::newRow("spread over more than a minute")
            << QStringList{"0 10.0.0.1 a Wrong", "15000 10.0.0.1 b Wrong", "30000 10.0.0.1 c Wrong",
                           "45000 10.0.0.1 d Wrong", "60000 10.0.0.1 e Wrong", "60001 10.0.0.1 f LockedOut"};
        QTest::newRow("missing ones do not count, the right password clears the count")
            << fourWrong + QStringList{"3500 10.0.0.1 - Missing", "3500 10.0.0.1 right Accepted", "4000 10.0.0.1 e Wrong"};
        QTest::newRow("IPv4 through an IPv6 socket is the same address") << fourWrong + QStringList{"4000 ::ffff:10.0.0.1 e LockedOut"};
        QTest::newRow("one IPv6 /64 is one address")
            << QStringList{"0 fd00:1:2:3::1 a Wrong", "0 fd00:1:2:3::2 b Wrong", "0 fd00:1:2:3::3 c Wrong",
                           "0 fd00:1:2:3:ffff::4 d Wrong", "0 fd00:1:2:3::5 e LockedOut", "0 fd00:1:2:4::1 right Accepted"};
        QStringList spread;  // one wrong password from each of 30 addresses, over the minute
        for (int i = 0; i < ControlGate::WrongPerWindowAll; ++i)
            spread << QStringLiteral("%1 10.1.0.%2 x Wrong").arg(i * 1000).arg(i + 1);
        QTest::newRow("beyond 30 wrong a minute from all, every wrong is locked out until it has passed")
            << spread + QStringList{"29000 10.2.0.1 x LockedOut", "59999 10.1.0.1 x LockedOut", "59999 10.2.0.3 right Accepted",
                                    "60000 10.2.0.4 x Wrong", "60000 10.2.0.5 x LockedOut", "61000 10.2.0.6 x Wrong"};
    }
    void lockOut()
    {
        QFETCH(QStringList, steps);
        qint64 now = 0;
        ControlGate gate("right", [&now] { return now; });
        QStringList got;  // the steps with the verdicts given, so that a failure names its step
        for (const QString &step : steps) {
            QStringList part = step.split(u' ');
            now = part.at(0).toLongLong();
            const QByteArray authorization = part.at(2) == "-" ? QByteArray() : "Bearer " + part.at(2).toUtf8();
            part[3] = VerdictNames[int(gate.check(authorization, QHostAddress(part.at(1))))];
            got << part.join(u' ');
        }
        QCOMPARE(got, steps);
    }

    // A full table does not make room for guessing newcomers: they are
    // treated as locked (two taking turns used to throw out each other's
    // count), while an address already counted goes on being counted.
    void fullTable()
    {
        qint64 now = 0;
        ControlGate gate("right", [&now] { return now; });
        const auto address = [](quint32 n) { return QHostAddress(0x0a000000u + n); };
        for (quint32 a = 0; a < ControlGate::WrongPerWindowAll; ++a)
            QCOMPARE(gate.check("Bearer x", address(a)), V::Wrong);
        now = 30'000;  // all locked out, but counted while the table has room
        for (quint32 a = 0; a < ControlGate::MaxAddresses + 10; ++a)
            QCOMPARE(gate.check("Bearer x", address(a)), V::LockedOut);
        QCOMPARE(gate.trackedAddresses(), ControlGate::MaxAddresses);
        now = 60'000;  // the lock for all has lifted; every record still counts
        for (quint32 i = 0; i < 10; ++i)
            QCOMPARE(gate.check("Bearer x", address(ControlGate::MaxAddresses + i % 2)), V::LockedOut);
        QCOMPARE(gate.check("Bearer x", address(7)), V::Wrong);
        QCOMPARE(gate.check("Bearer right", address(ControlGate::MaxAddresses + 2)), V::Accepted);
        now = 200'000;  // everything lapsed: a newcomer makes room by forgetting the old ones
        QCOMPARE(gate.check("Bearer x", QHostAddress("10.200.0.1")), V::Wrong);
        QCOMPARE(gate.trackedAddresses(), 1);
    }
};

QTEST_APPLESS_MAIN(TstLiveControl)
#include "tst_livecontrol.moc"
