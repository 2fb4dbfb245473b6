// SPDX-License-Identifier: GPL-3.0-or-later
// The live page's routes on the real server of a real main window: what they
// answer, what the events stream tells and when, and that control from the
// web does what the window's own controls do.

#include "Fixtures.h"
#include "PrivateNetwork.h"
#include "UdpCatcher.h"

#include "app/FPortula.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"
#include "clock/ClockTime.h"
#include "publish/TimeBroadcast.h"

#include <QTcpSocket>
#include "QuorandelVersion.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const QByteArray Password = "sidings & signals";

QByteArray control(const QByteArray &body, const QByteArray &password = Password)
{
    QByteArray request = "POST /quorandel/control HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n";
    if (!password.isNull())
        request += "Authorization: Bearer " + password + "\r\n";
    return exchange(request + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

QByteArray statusOf(const QByteArray &response)
{
    return response.left(response.indexOf('\n'));
}

QByteArray bodyOf(const QByteArray &response)
{
    return response.mid(response.indexOf("\n\n") + 2);
}

QByteArray stateJson()
{
    return bodyOf(exchange("GET /quorandel/state.json HTTP/1.0\r\n\r\n"));
}

// An events stream, its answer as it comes.
struct Stream : QTcpSocket
{
    QByteArray got;
    bool open()
    {
        QObject::connect(this, &QIODevice::readyRead, [this] { got += readAll(); });
        connectToHost(QHostAddress::LocalHost, 8080);
        if (!spinUntil([this] { return state() == QAbstractSocket::ConnectedState; }))
            return false;
        write("GET /quorandel/events HTTP/1.1\r\nAccept: text/event-stream\r\n\r\n");
        return spinUntil([this] { return got.contains("data: "); });
    }
};

// What a control leaves behind: the timers, speed and time, and what the
// remote clocks heard on the rate channel.
struct Outcome
{
    int timer1 = 0, timer3 = 0, timer4 = 0, speed = 0, secondsOfDay = 0, stopMarks = 0;
    bool rateSent = false;  // rates still going out at the end
    bool operator==(const Outcome &o) const
    {
        return std::tie(timer1, timer3, timer4, speed, secondsOfDay, stopMarks, rateSent)
            == std::tie(o.timer1, o.timer3, o.timer4, o.speed, o.secondsOfDay, o.stopMarks, o.rateSent);
    }
};

char *toString(const Outcome &o)
{
    return qstrdup(QString::asprintf("timers %d/%d/%d speed %d time %d marks %d rate %d", o.timer1, o.timer3,
                                     o.timer4, o.speed, o.secondsOfDay, o.stopMarks, int(o.rateSent))
                       .toLatin1());
}

}  // namespace

class TstLiveClock : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchRun> m_run;

    std::unique_ptr<FPortula> started(const QByteArray &ini = "[remote]\npassword=\"" + Password + "\"\n")
    {
        if (!ini.isEmpty())
            m_run->writeExtensionSettings(ini);
        return m_run->started();
    }

    // The clock after one control, given by the window or by the web; the
    // clock is first stopped at speed 4 (or running, for `running`).
    Outcome outcomeOf(bool running, const std::function<void(FPortula &)> &act)
    {
        auto w = started();
        if (!w)
            return {};
        w->clock().setSpeed(4);
        if (running)
            w->StartClock->click();
        UdpCatcher rate(TimeBroadcast::RatePort);
        QTest::qWait(100);
        rate.clear();
        act(*w);
        QTest::qWait(300);
        // Rates that came before the action (the web's request takes a moment) do not count.
        const QByteArrayList heard = rate.datagrams();
        const QByteArrayList afterMarks = heard.mid(heard.lastIndexOf("0") + 1);
        return {w->clock().timer1().interval(), w->broadcast().timer3().interval(), w->push().timer4().interval(),
                w->clock().clockSpeed(), ClockTimeMath::secondsOfDay(w->clock().clockTime()) / 60 * 60,
                int(heard.count("0")), afterMarks.contains("253") || afterMarks.contains("125")};
    }

private slots:
    void init()
    {
        REQUIRE_PRIVATE_NETWORK();
        m_run = std::make_unique<ScratchRun>();
    }

    void pageAndState()
    {
        auto w = started();
        QVERIFY2(w, qPrintable(m_run->startError));
        const QByteArray page = exchange("GET /quorandel/ HTTP/1.1\r\nHost: clock\r\n\r\n");
        QVERIFY2(page.startsWith("HTTP/1.0 200 OK\nServer: " + QByteArray(QuorandelCaption) + "\nContent-Type: text/html; charset=utf-8\n"),
                 page.left(200).constData());
        QVERIFY(page.contains("clock.js"));
        QCOMPARE(exchange("GET /quorandel/clock.js HTTP/1.0\r\n\r\n").indexOf("Content-Type: text/javascript"), 39);

        const QByteArray state = exchange("GET /quorandel/state.json HTTP/1.0\r\n\r\n");
        QVERIFY2(state.contains("\nContent-Type: application/json\n") && state.contains("\nCache-Control: no-store\n"),
                 state.constData());
        QCOMPARE(bodyOf(state), QByteArray(R"({"time":"00:00:00","running":false,"held":false,"speed":1,"interval":1000,"control":true})"));
        w->clock().setSpeed(4);
        w->StartClock->click();
        w->clock().setTimeAndHold(6, 30);  // while running: held
        QCOMPARE(stateJson(), QByteArray(R"({"time":"06:30:00","running":false,"held":true,"speed":4,"interval":250,"control":true})"));
        // A speed chosen in the dialog while running waits for Start: what is
        // told is what is counted, and the chosen one beside it.
        w->StartClock->click();
        chooseSpeed(*w, 8);
        QCOMPARE(stateJson(), QByteArray(R"({"time":"06:30:00","running":true,"held":false,"speed":4,"interval":250,"nextSpeed":8,"control":true})"));
        w->StartClock->click();
        QVERIFY(stateJson().contains(R"("speed":8,"interval":125,"control")"));  // and no nextSpeed
        QCOMPARE(statusOf(exchange("POST /quorandel/state.json HTTP/1.0\r\nContent-Length: 0\r\n\r\n")),
                 QByteArray("HTTP/1.0 405 Method Not Allowed"));
    }

    // Connect, start, a new model minute, stop: each told at once, in order.
    void eventsTellEveryChange()
    {
        auto w = started();
        QVERIFY2(w, qPrintable(m_run->startError));
        Stream stream;
        QVERIFY(stream.open());
        const auto events = [&] {
            QByteArrayList list;
            for (const QByteArray &e : bodyOf(stream.got).split('\n'))
                if (e.startsWith("data: "))
                    list << e.mid(6);
            return list;
        };
        QCOMPARE(events().size(), 1);
        QVERIFY2(stream.got.startsWith("HTTP/1.0 200 OK\nServer: " + QByteArray(QuorandelCaption) + "\nContent-Type: text/event-stream\n"), stream.got.constData());
        // Five model seconds before a new minute, at 8:1.
        w->clock().setSpeed(8);
        w->clock().restoreTime(ClockTimeMath::timeOfDay(6, 59) + 55 * ClockTimeMath::oneSecond());
        QVERIFY(spinUntil([&] { return events().size() == 2; }));  // the speed
        QElapsedTimer clock;
        clock.start();
        w->StartClock->click();
        QVERIFY(spinUntil([&] { return events().size() == 3; }));
        QVERIFY2(clock.elapsed() < 500, "the start was told late");
        QVERIFY(spinUntil([&] { return events().size() == 4; }));
        w->Stopclock->click();
        QVERIFY(spinUntil([&] { return events().size() == 5; }));
        const QByteArrayList e = events();
        QVERIFY2(e[0].contains(R"("running":false)") && e[1].contains(R"("speed":8)"), e.join('|').constData());
        QVERIFY2(e[2].contains(R"("time":"06:59:55","running":true)"), e[2].constData());
        QVERIFY2(e[3].startsWith(R"({"time":"07:00:00","running":true)"), e[3].constData());
        QVERIFY2(e[4].contains(R"("running":false,"held":false,"speed":8)"), e[4].constData());
        stream.disconnectFromHost();
    }

    // Each control from the web leaves the clock as the window's own control
    // does, and the remote clocks hear the same.
    void controlDoesWhatTheWindowDoes_data()
    {
        using Act = std::function<void(FPortula &)>;
        QTest::addColumn<bool>("running");
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<Act>("window");
        QTest::newRow("start") << false << QByteArray("action=start") << Act([](FPortula &w) { w.StartClock->click(); });
        QTest::newRow("stop") << true << QByteArray("action=stop") << Act([](FPortula &w) { w.Stopclock->click(); });
        // The phone means the speed now: the option and Start, as a person at the window would.
        QTest::newRow("speed while running") << true << QByteArray("action=set&speed=8")
                                             << Act([](FPortula &w) { chooseSpeed(w, 8); w.StartClock->click(); });
        QTest::newRow("speed while stopped: chosen only") << false << QByteArray("action=set&speed=8")
                                                          << Act([](FPortula &w) { chooseSpeed(w, 8); });
        QTest::newRow("time while running: held") << true << QByteArray("action=set&time=06%3A30")
                                                  << Act([](FPortula &w) { w.nFast->trigger(); setTimeByDialog(w, "6", "30"); });
        QTest::newRow("speed and time, stopped") << false << QByteArray("action=set&speed=8&time=23:59")
                                                 << Act([](FPortula &w) { chooseSpeed(w, 8); setTimeByDialog(w, "23", "59"); });
    }
    void controlDoesWhatTheWindowDoes()
    {
        QFETCH(bool, running);
        QFETCH(QByteArray, form);
        using Act = std::function<void(FPortula &)>;
        QFETCH(Act, window);
        const Outcome byWindow = outcomeOf(running, window);
        QByteArray answer;
        const Outcome byWeb = outcomeOf(running, [&](FPortula &) { answer = control(form); });
        QCOMPARE(statusOf(answer), QByteArray("HTTP/1.0 204 No Content"));
        QCOMPARE(byWeb, byWindow);
    }

    // Every refusal has its answer and its reason, and guessing is stopped;
    // refused passwords and accepted controls go to the request log.
    void refusals()
    {
        QVERIFY(m_run->writeRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quorandel]\n"
                                     "\"FileLog\"=\"True\"\n"));
        auto w = started();
        QVERIFY2(w, qPrintable(m_run->startError));
        const auto refused = [](const QByteArray &response, const char *status, const char *reason) {
            return statusOf(response) == QByteArray("HTTP/1.0 ") + status && bodyOf(response) == QByteArray(reason) + '\n';
        };
        QVERIFY(refused(control("action=start", QByteArray()), "401 Unauthorized", "The control password is needed."));
        QVERIFY(refused(control("action=set&speed=7"), "400 Bad Request",
                        "Speed \"7\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8."));
        // The other refusals of the form and of the head: tst_controlcommand, tst_formbody, tst_webserver.
        QCOMPARE(statusOf(control("action=set&speed=2")), QByteArray("HTTP/1.0 204 No Content"));
        QCOMPARE(w->clock().clockSpeed(), qint16(2));
        QVERIFY(refused(exchange("GET /quorandel/control HTTP/1.0\r\n\r\n"), "405 Method Not Allowed",
                        "Only POST is answered here."));
        QVERIFY(refused(exchange("POST /quorandel/control HTTP/1.1\r\nAuthorization: Bearer " + Password
                                 + "\r\nauthorization: Bearer guess\r\nContent-Length: 12\r\n\r\naction=start"),
                        "400 Bad Request", "More than one Authorization header."));
        for (int i = 1; i <= 4; ++i) {
            QTest::ignoreMessage(QtWarningMsg, "127.0.0.1: control refused: wrong password");
            QVERIFY(refused(control("action=start", "guess"), "401 Unauthorized", "Wrong password."));
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("control refused"));
        QVERIFY(refused(control("action=start", "guess"), "429 Too Many Requests", "Too many wrong passwords: wait a minute."));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("locked out"));
        QCOMPARE(statusOf(control("action=start")), QByteArray("HTTP/1.0 429 Too Many Requests"));  // even the right one
        QCOMPARE(w->clock().timer1().interval(), 0);  // nothing refused moved the clock
        const QByteArray log = m_run->requestLog();
        QCOMPARE(log.count(": 127.0.0.1: control refused: wrong password\r\n"), 4);
        QCOMPARE(log.count(": 127.0.0.1: control refused: locked out after too many wrong passwords\r\n"), 2);
        QCOMPARE(log.count(": 127.0.0.1: control accepted: action=set&speed=2\r\n"), 1);
    }

    void controlOffWithoutPassword()
    {
        auto w = started("[fastclock]\nenabled=false\n");
        QVERIFY2(w, qPrintable(m_run->startError));
        QCOMPARE(statusOf(control("action=start")), QByteArray("HTTP/1.0 403 Forbidden"));
        QVERIFY(stateJson().endsWith(R"("control":false})"));
        QCOMPARE(w->clock().timer1().interval(), 0);
    }
};

QTEST_MAIN(TstLiveClock)
#include "tst_liveclock.moc"
