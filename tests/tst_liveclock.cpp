// SPDX-License-Identifier: GPL-3.0-or-later
// The live clock's routes on a real server over loopback: what each answers,
// that the stream tells a new model minute, and every refusal of the control
// with its reason and its line in the request log.

#include "Waits.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "platform/FileNumbers.h"
#include "settings/Settings.h"
#include "web/JoinPage.h"
#include "web/LiveClock.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"
#include "web/WebServer.h"

#include <QtTest>

namespace {

struct NoStatus : SlotStatus
{
    void loadSlot(int) override {}
    void setSlotText(int, const QString &) override {}
    QString slotText(int) const override { return {}; }
};

// A server with the live clock on a port of the OS's choosing.
struct Rig
{
    explicit Rig(const QByteArray &password)
        : live(web, clock, log, password, "Quorandel 1.40")
    {
        settings.LPort = QStringLiteral("0");
        log.open(dir.filePath("log.txt"));
        clock.addFollower(live);
        live.install();
        web.startListening();
    }
    QByteArray ask(const QByteArray &request) { return exchange(request, web.localPort()); }
    QByteArray control(const QByteArray &headers, const QByteArray &form)
    {
        return ask("POST /quorandel/control HTTP/1.1\r\n" + headers + "Content-Length: "
                   + QByteArray::number(form.size()) + "\r\n\r\n" + form);
    }

    QTemporaryDir dir;
    Settings settings;
    RequestLog log;
    NoStatus status;
    FileNumbers files;
    WebServer web{settings, log, status, files, QStringLiteral("Quorandel 1.40")};
    ClockEngine clock;
    LiveClock live;
};

QByteArray head(const QByteArray &answer)
{
    return answer.left(answer.indexOf("\n\n") + 2);
}

QByteArray body(const QByteArray &answer)
{
    return answer.mid(answer.indexOf("\n\n") + 2);
}

}  // namespace

class TstLiveClock : public QObject
{
    Q_OBJECT

private slots:
    void routes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("page") << QByteArray("GET /quorandel/ HTTP/1.1\r\nHost: clock\r\n\r\n")
                              << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: text/html; charset=utf-8\n");
        QTest::newRow("script") << QByteArray("GET /quorandel/clock.js HTTP/1.0\r\n\r\n")
                                << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: text/javascript; charset=utf-8\n");
        QTest::newRow("icon") << QByteArray("GET /quorandel/icon-192.png HTTP/1.0\r\n\r\n")
                              << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: image/png\n");
        QTest::newRow("state") << QByteArray("GET /quorandel/state.json HTTP/1.0\r\n\r\n")
                               << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: application/json\n"
                                             "Cache-Control: no-store\nContent-Length: 89\n\n");
        QTest::newRow("channels") << QByteArray("GET /quorandel/channels HTTP/1.0\r\nAuthorization: Bearer pw\r\n\r\n")
                                  << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: application/json\n"
                                                "Cache-Control: no-store\nContent-Length: 15\n\n{\"channels\":[]}");
        QTest::newRow("channels, wrong password") << QByteArray("GET /quorandel/channels HTTP/1.0\r\nAuthorization: Bearer x\r\n\r\n")
                                                  << QByteArray("HTTP/1.0 401 Unauthorized\n");
        QTest::newRow("join page") << QByteArray("GET /quorandel/join HTTP/1.0\r\n\r\n")
                                   << QByteArray("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: text/html; charset=utf-8\n");
        QTest::newRow("no such page") << QByteArray("GET /quorandel/nothing HTTP/1.0\r\n\r\n")
                                      << QByteArray("HTTP/1.0 404 Not Found\n");
        QTest::newRow("state by POST") << QByteArray("POST /quorandel/state.json HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
                                       << QByteArray("HTTP/1.0 405 Method Not Allowed\nServer: Quorandel 1.40\nAllow: GET\n");
    }
    void routes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, head);
        Rig rig("pw");
        const QByteArray answer = rig.ask(request);
        QVERIFY2(answer.startsWith(head), answer.left(300).constData());
        if (request.contains("state.json") && answer.startsWith("HTTP/1.0 200"))
            QCOMPARE(body(answer), QByteArray(R"({"time":"00:00:00","running":false,"held":false,"speed":1,"interval":1000,"control":true})"));
    }

    // The poster: the layout's name as text, the address in large print under
    // its code, and nothing that runs (whether the code reads as the address
    // is for zbarimg, in the browser test).
    void joinPage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("heading");
        QTest::newRow("named") << "Bahnhof <Süd> & Co" << QByteArray("<h1>Bahnhof &lt;Süd&gt; &amp; Co</h1>");
        QTest::newRow("no name") << " " << QByteArray("<h1>The layout's clock</h1>");
    }
    void joinPage()
    {
        QFETCH(QString, name);
        const QByteArray page = ::joinPage("http://10.0.0.7:8080/quorandel/", name);
        QTEST(page.mid(page.indexOf("<h1>"), page.indexOf("</h1>") + 5 - page.indexOf("<h1>")), "heading");
        QVERIFY(page.contains("</svg><p class=\"address\">http://10.0.0.7:8080/quorandel/</p>"));
        QVERIFY(!QString::fromUtf8(page).contains(QRegularExpression("<script|\\son[a-z]+=|javascript:")));
    }

    // A stream hears the state at once, then each change and each new model minute.
    void streamTellsTheMinute()
    {
        Rig rig("pw");
        QTcpSocket stream;
        QByteArray got;
        connect(&stream, &QIODevice::readyRead, this, [&] { got += stream.readAll(); });
        stream.connectToHost(QHostAddress::LocalHost, rig.web.localPort());
        QVERIFY(stream.waitForConnected(kWait));
        stream.write("GET /quorandel/events HTTP/1.1\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(got.contains("data: "), kWait);
        QVERIFY2(got.startsWith("HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: text/event-stream\n"), got.constData());
        rig.clock.restoreTime(ClockTimeMath::timeOfDay(6, 59) + 59 * ClockTimeMath::oneSecond());
        rig.clock.tick();
        QTRY_VERIFY_WITH_TIMEOUT(got.endsWith(R"(data: {"time":"07:00:00","running":false,"held":false,"speed":1,"interval":1000,"control":true})"
                                              "\n\n"),
                                 kWait);
    }

    // Each refusal says why; a guesser is locked out, even with the right
    // password; refusals and accepted commands are noted in the log.
    void control_data()
    {
        QTest::addColumn<QByteArray>("password");  // null: control off
        QTest::addColumn<QByteArrayList>("requests");  // headers, then the form, in pairs
        QTest::addColumn<QByteArray>("answer");   // of the last request: status line, and the reason
        QTest::addColumn<QByteArray>("logged");
        QTest::addColumn<int>("speed");
        const QByteArray pw = "Authorization: Bearer pw\r\n", guess = "Authorization: Bearer guess\r\n";
        QTest::newRow("accepted") << QByteArray("pw") << QByteArrayList{pw, "action=set&speed=2"}
                                  << QByteArray("HTTP/1.0 204 No Content") << QByteArray("control accepted: action=set&speed=2") << 2;
        QTest::newRow("control off") << QByteArray() << QByteArrayList{pw, "action=start"}
                                     << QByteArray("HTTP/1.0 403 Forbidden|Control is off: no control password is set.") << QByteArray() << 1;
        QTest::newRow("no password") << QByteArray("pw") << QByteArrayList{"", "action=start"}
                                     << QByteArray("HTTP/1.0 401 Unauthorized|The control password is needed.") << QByteArray() << 1;
        QTest::newRow("wrong password") << QByteArray("pw") << QByteArrayList{guess, "action=set&speed=2"}
                                        << QByteArray("HTTP/1.0 401 Unauthorized|Wrong password.")
                                        << QByteArray("control refused: wrong password") << 1;
        QTest::newRow("speed not offered") << QByteArray("pw") << QByteArrayList{pw, "action=set&speed=7"}
                                           << QByteArray("HTTP/1.0 400 Bad Request|Speed \"7\" is not offered. Choose 1, 2, 3, 4, 5, 6 or 8.")
                                           << QByteArray() << 1;
        QTest::newRow("two passwords") << QByteArray("pw") << QByteArrayList{pw + guess, "action=set&speed=2"}
                                       << QByteArray("HTTP/1.0 400 Bad Request|More than one Authorization header.") << QByteArray() << 1;
        QTest::newRow("two lengths that differ") << QByteArray("pw") << QByteArrayList{pw + "Content-Length: 12\r\n", "action=set&speed=2"}
                                                 << QByteArray("HTTP/1.0 400 Bad Request|The Content-Length headers differ: the body's length is unclear.")
                                                 << QByteArray() << 1;
        QTest::newRow("chunked") << QByteArray("pw") << QByteArrayList{pw + "Transfer-Encoding: chunked\r\n", "action=set&speed=2"}
                                 << QByteArray("HTTP/1.0 400 Bad Request|Transfer-Encoding is not accepted: send the body with one Content-Length.")
                                 << QByteArray() << 1;
        QByteArrayList guesses;
        for (int i = 0; i < 5; ++i)
            guesses << guess << "action=set&speed=2";
        QTest::newRow("locked out") << QByteArray("pw") << (guesses << pw << "action=set&speed=2")
                                    << QByteArray("HTTP/1.0 429 Too Many Requests|Too many wrong passwords: wait a minute.")
                                    << QByteArray("control refused: locked out after too many wrong passwords") << 1;
    }
    void control()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArrayList, requests);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, logged);
        QFETCH(int, speed);
        Rig rig(password);
        QByteArray got;
        for (qsizetype i = 0; i + 1 < requests.size(); i += 2)
            got = rig.control(requests[i], requests[i + 1]);
        const QByteArrayList expected = answer.split('|');
        QCOMPARE(got.left(got.indexOf('\n')), expected[0]);
        if (expected.size() > 1)
            QCOMPARE(body(got), expected[1] + '\n');
        QCOMPARE(int(rig.clock.clockSpeed()), speed);
        rig.log.close();
        const QByteArray log = contentOf(rig.dir.filePath("log.txt"));
        QVERIFY2(logged.isEmpty() ? log.isEmpty() : log.contains(": 127.0.0.1: " + logged + "\r\n"), log.constData());
        if (expected[0].contains("401"))
            QVERIFY(head(got).contains("\nWWW-Authenticate: Bearer\n"));
    }
};

QTEST_MAIN(TstLiveClock)
#include "tst_liveclock.moc"
