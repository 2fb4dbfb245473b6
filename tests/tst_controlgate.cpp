// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ControlGate.h"

#include <QtTest>

Q_DECLARE_METATYPE(ControlGate::Verdict)

namespace {
using V = ControlGate::Verdict;
const char *const kVerdictNames[] = {"Accepted", "ControlOff", "Missing", "Wrong", "LockedOut"};
}  // namespace

class TstControlGate : public QObject
{
    Q_OBJECT
private slots:
    // The comparison is meant to take the same time whatever is guessed; a
    // timing test would only be noise, so these rows check that it is right.
    void credentials_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<V>("verdict");
        QTest::newRow("right") << QByteArray("secret") << QByteArray("Bearer secret") << V::Accepted;
        QTest::newRow("scheme in any case, blanks around") << QByteArray("secret") << QByteArray(" bEARER   secret ") << V::Accepted;
        QTest::newRow("blank inside the password") << QByteArray("two words") << QByteArray("Bearer two words") << V::Accepted;
        QTest::newRow("UTF-8 password") << QByteArray("p\xc3\xa4ss") << QByteArray("Bearer p\xc3\xa4ss") << V::Accepted;
        QTest::newRow("shorter") << QByteArray("secret") << QByteArray("Bearer secre") << V::Wrong;
        QTest::newRow("longer") << QByteArray("secret") << QByteArray("Bearer secret1") << V::Wrong;
        QTest::newRow("letter case") << QByteArray("secret") << QByteArray("Bearer Secret") << V::Wrong;
        QTest::newRow("Latin-1 for UTF-8") << QByteArray("p\xc3\xa4ss") << QByteArray("Bearer p\xe4ss") << V::Wrong;
        QTest::newRow("no header") << QByteArray("secret") << QByteArray() << V::Missing;
        QTest::newRow("scheme alone") << QByteArray("secret") << QByteArray("Bearer   ") << V::Missing;
        QTest::newRow("other scheme") << QByteArray("secret") << QByteArray("Basic c2VjcmV0") << V::Missing;
        QTest::newRow("no blank after the scheme") << QByteArray("secret") << QByteArray("Bearersecret") << V::Missing;
        QTest::newRow("control off") << QByteArray() << QByteArray("Bearer ") << V::ControlOff;
    }
    void credentials()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, authorization);
        QFETCH(V, verdict);
        ControlGate gate(password);
        QCOMPARE(gate.controlOn(), !password.isEmpty());
        QCOMPARE(gate.check(authorization, QHostAddress("192.168.1.20")), verdict);
    }

    // Steps "ms address password verdict" against a gate whose password is
    // "right", on a clock that only moves when a step says so.
    void lockOut_data()
    {
        QTest::addColumn<QStringList>("steps");
        const QStringList fourWrong{"0 10.0.0.1 a Wrong", "1000 10.0.0.1 b Wrong", "2000 10.0.0.1 c Wrong",
                                    "3000 10.0.0.1 d Wrong"};
        QTest::newRow("fifth wrong locks that address for 60 s, even the right password")
            << fourWrong + QStringList{"4000 10.0.0.1 e LockedOut", "4000 10.0.0.2 right Accepted",
                                       "5000 10.0.0.1 - LockedOut", "63999 10.0.0.1 right LockedOut",
                                       "64000 10.0.0.1 right Accepted"};
        QTest::newRow("spread over more than a minute")
            << QStringList{"0 10.0.0.1 a Wrong", "15000 10.0.0.1 b Wrong", "30000 10.0.0.1 c Wrong",
                           "45000 10.0.0.1 d Wrong", "60000 10.0.0.1 e Wrong", "60001 10.0.0.1 f LockedOut"};
        QTest::newRow("missing credentials do not count, the right password clears the count")
            << fourWrong + QStringList{"3500 10.0.0.1 - Missing", "3500 10.0.0.1 right Accepted", "4000 10.0.0.1 e Wrong"};
        QTest::newRow("IPv4 through an IPv6 socket is the same address")
            << fourWrong + QStringList{"4000 ::ffff:10.0.0.1 e LockedOut"};
        QTest::newRow("one IPv6 /64 counts as one address")
            << QStringList{"0 fd00:1:2:3::1 a Wrong", "0 fd00:1:2:3::2 b Wrong", "0 fd00:1:2:3::3 c Wrong",
                           "0 fd00:1:2:3:ffff::4 d Wrong", "0 fd00:1:2:3::5 e LockedOut", "0 fd00:1:2:4::1 right Accepted"};
        QStringList spread;  // one wrong password from each of 30 addresses, spread over the minute
        for (int i = 0; i < ControlGate::WrongPerWindowAll; ++i)
            spread << QStringLiteral("%1 10.1.0.%2 x Wrong").arg(i * 1000).arg(i + 1);
        QTest::newRow("beyond 30 wrong in a minute from all addresses, every wrong is locked out until it has passed")
            << spread + QStringList{"29000 10.2.0.1 x LockedOut", "59999 10.2.0.2 x LockedOut",
                                    "59999 10.1.0.1 x LockedOut", "59999 10.2.0.3 right Accepted",
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
            part[3] = kVerdictNames[int(gate.check(authorization, QHostAddress(part.at(1))))];
            got << part.join(u' ');
        }
        QCOMPARE(got, steps);
    }

    // A full table does not make room for a guessing newcomer: it is treated
    // as locked, while an address already counted goes on being counted. The
    // first 30 wrong passwords bring on the lock for all addresses, which has
    // lifted by 60 s; the addresses that guessed at 30 s still fill the table.
    void fullTableLocksNewcomers()
    {
        qint64 now = 0;
        ControlGate gate("right", [&now] { return now; });
        const auto address = [](quint32 n) { return QHostAddress(0x0a000000u + n); };
        for (quint32 a = 0; a < ControlGate::WrongPerWindowAll; ++a)
            QCOMPARE(gate.check("Bearer x", address(a)), V::Wrong);
        now = 30'000;
        for (quint32 a = 0; a < 2 * ControlGate::MaxAddresses; ++a)
            QCOMPARE(gate.check("Bearer x", address(a)), V::LockedOut);
        QCOMPARE(gate.trackedAddresses(), ControlGate::MaxAddresses);
        now = 60'000;
        QCOMPARE(gate.check("Bearer x", address(ControlGate::MaxAddresses)), V::LockedOut);
        QCOMPARE(gate.check("Bearer x", address(7)), V::Wrong);
        QCOMPARE(gate.check("Bearer right", address(ControlGate::MaxAddresses + 1)), V::Accepted);
        QCOMPARE(gate.trackedAddresses(), ControlGate::MaxAddresses);
        now = 200'000;  // everything lapsed: a new address makes room by forgetting the old ones
        QCOMPARE(gate.check("Bearer x", QHostAddress("10.200.0.1")), V::Wrong);
        QCOMPARE(gate.trackedAddresses(), 1);
    }

    // Two addresses taking turns once every other address in the table is
    // locked: each used to throw out the other's count and never got locked.
    void alternatingBesideFullTable()
    {
        qint64 now = 0;
        ControlGate gate("right", [&now] { return now; });
        for (quint32 a = 0; a < ControlGate::MaxAddresses; ++a)
            for (int i = 0; i < ControlGate::WrongPerWindow; ++i)
                gate.check("Bearer x", QHostAddress(0x0a000000u + a));
        now = 1000;
        const QHostAddress pair[] = {QHostAddress("10.250.0.1"), QHostAddress("10.250.0.2")};
        int wrong = 0;
        for (int i = 0; i < 600; ++i)
            wrong += gate.check("Bearer x", pair[i % 2]) == V::Wrong;
        QCOMPARE(wrong, 0);
        QCOMPARE(gate.check("Bearer right", QHostAddress("10.250.0.3")), V::Accepted);
        QCOMPARE(gate.check("Bearer right", QHostAddress(0x0a000000u)), V::LockedOut);
    }
};

QTEST_APPLESS_MAIN(TstControlGate)
#include "tst_controlgate.moc"
