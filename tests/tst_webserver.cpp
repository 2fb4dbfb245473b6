// SPDX-License-Identifier: GPL-3.0-or-later
// The real server on loopback, real files, clients over TCP.

#include "web/WebServer.h"

#include "TempTree.h"
#include "Waits.h"
#include "platform/FileNumbers.h"
#include "settings/Settings.h"
#include "../bench/ListingInOneGo.h"
#include "web/FolderAnswer.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

const QLocale German(QLocale::German, QLocale::Germany);

QByteArray head(const char *status)
{
    return "HTTP/1.0 " + QByteArray(status) + "\nServer: Quorandel 1.40\n";
}
QByteArray ok(const QByteArray &type, const QByteArray &body, const char *status = "200 OK")
{
    return head(status) + "Content-Type: " + type + "\nContent-Length: " + QByteArray::number(body.size()) + "\n\n" + body;
}
// Not a repeating 256-byte cycle, so that a chunk sent twice or out of order shows.
QByteArray pattern(int size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed + i / 253) & 0xFF);
    return data;
}
const QByteArray NotFound = head("404 Not Found") + '\n', NotImplemented = head("501 Not Implemented") + '\n';
const QByteArray Ten = ok("*/*", pattern(10000, 1)), Big = ok("*/*", pattern(1 << 20, 3));

bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Client : QTcpSocket
{
    QByteArray received;
    // A receive buffer of `receiveBuffer` bytes, set before connecting,
    // narrows the window the server sees; `from`, a loopback address, is the
    // client's own.
    explicit Client(quint16 port, int receiveBuffer = 0, const QHostAddress &from = QHostAddress::LocalHost)
    {
        QObject::connect(this, &QIODevice::readyRead, [this] { received += readAll(); });
        if ((receiveBuffer > 0 || from != QHostAddress::LocalHost) && bind(from) && receiveBuffer > 0)
            ::setsockopt(int(socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected() const { return state() == ConnectedState; }
    bool waitClosed()
    {
        const bool closed = spinUntil([this] { return state() == UnconnectedState; });
        received += readAll();
        return closed;
    }
    // A reader gone to sleep: Qt takes at most `bytes` until the test reads.
    void readByHand(qint64 bytes)
    {
        QObject::disconnect(this, &QIODevice::readyRead, nullptr, nullptr);
        setReadBufferSize(bytes);
    }
    void closeWithReset()  // a zero linger makes the close an RST
    {
        const linger hard{1, 0};
        ::setsockopt(int(socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        abort();
    }
};

// A web root with files at the chunk bounds and beyond the 32-bit counts, a hidden folder, an
// index file and folders to list; "secret.txt" beside it. Both logs on, status lines recorded.
struct Fixture : SlotStatus
{
    TempTree tree{{"www/", "www/list/", "www/many/", "www/many/0", "www/idx/", "www/idx/index.htm=5", "www/eight.bin=8192", "www/odd.bin=8193",
                   "www/.git/", "www/.git/config", "www/empty.txt", "www/huge.bin=67108864", "www/over.bin=2147483648",
                   "secret.txt"}};
    Settings settings;
    RequestLog log;
    FileNumbers files;
    QMap<int, QStringList> texts;  // every status text, per slot
    int loaded = 0;                // status lines made
    WebServer server{settings, log, *this, files, QStringLiteral("Quorandel 1.40")};

    Fixture()
    {
        settings.WebRoot = QFile::decodeName(tree.path("www"));
        settings.LPort = QStringLiteral("0");
        settings.IndexHTML = QStringLiteral("index.htm");
        settings.LogC = settings.LogE = true;
        server.setLocale(German);
        server.addRoute("/quorandel/echo", [](const HttpRequest &r, const QByteArray &peer) {
            return WebAnswer::status(head("200 OK") + '\n' + r.method + ' ' + r.body + ' ' + peer);
        });
        server.addRoute("/quorandel/events", [](const HttpRequest &, const QByteArray &) {
            return WebAnswer::events(head("200 OK") + "Content-Type: text/event-stream\n\n", "data: first\n\n");
        });
        if (!writeFile(www("ten.txt"), pattern(10000, 1)) || !writeFile(www("big.bin"), pattern(1 << 20, 3))
            || !tree.isValid() || !log.open(QFile::decodeName(tree.path("log.txt"))) || !server.startListening())
            qFatal("test fixture cannot be set up");
    }
    void loadSlot(int) override { ++loaded; }
    void setSlotText(int n, const QString &text) override { texts[n] << text; }
    QString slotText(int n) const override { return texts.value(n).value(texts.value(n).size() - 1); }
    QByteArray www(const QByteArray &name) const { return tree.path("www/" + name); }
    // The log's lines without their dates, "{www}" for the web root.
    QByteArrayList logged() const
    {
        QFile file(QFile::decodeName(tree.path("log.txt")));
        const QString all = file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
        QByteArrayList lines;
        for (const QString &line : all.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            lines << QString(line).remove(QRegularExpression("^[0-9.]+( [0-9:]+)?: ")).toLatin1().replace(www("").chopped(1), "{www}");
        return lines;
    }
    // A connected client, its request sent: one at a time, taken in this order.
    std::unique_ptr<Client> start(const QByteArray &request = {}, int receiveBuffer = 0,
                                  const QHostAddress &from = QHostAddress::LocalHost)
    {
        auto c = std::make_unique<Client>(server.localPort(), receiveBuffer, from);
        spinUntil([&] { return c->connected() || c->state() == Client::UnconnectedState; });
        c->write(request);
        return c;
    }
    // A reader that stops reading, once its file `n` is open.
    std::unique_ptr<Client> sleeper(int n)
    {
        auto c = start("GET /huge.bin HTTP/1.0\n");
        c->readByHand(1);
        spinUntil([&] { return files.isOpen(n); });
        return c;
    }
    // An events stream, once it has its first event or was refused.
    std::unique_ptr<Client> openStream(int receiveBuffer = 0, const QHostAddress &from = QHostAddress::LocalHost)
    {
        auto c = start("GET /quorandel/events HTTP/1.1\r\n\r\n", receiveBuffer, from);
        spinUntil([&] { return c->received.endsWith("data: first\n\n") || c->state() == Client::UnconnectedState; });
        return c;
    }
    // Pieces go out a moment apart, so that each arrives in its own segment.
    QByteArray fetch(const QByteArrayList &pieces)
    {
        const auto c = start(pieces.first());
        for (qsizetype i = 1; i < pieces.size(); ++i) {
            QTest::qWait(30);
            c->write(pieces[i]);
        }
        return c->waitClosed() ? c->received : c->received + "(not closed)";
    }
};

}  // namespace

class TstWebServer : public QObject
{
    Q_OBJECT
private slots:
    // The answer; slot 1's status texts before "Closed" (a file's progress
    // after each piece handed to the system, the last excepted); the log.
    void answers_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QByteArrayList>("logged");
        const auto row = [](const char *name, const QByteArrayList &pieces, const QByteArray &expected,
                            const QStringList &texts = {}, const QByteArrayList &logged = {}) {
            QTest::newRow(name) << pieces << expected << texts << logged;
        };
        const auto text = [](const char *status, const QByteArray &line) { return ok("text/plain; charset=utf-8", line + '\n', status); };
        const auto get = [&](const char *name, const QByteArray &path, const QByteArray &expected,
                             const QStringList &texts = {}, const QByteArrayList &logged = {}) {
            row(name, {"GET " + path + " HTTP/1.1\r\nHost: clock\r\n\r\n"}, expected, texts, logged);
        };
        const QString ten = "Transfering: /ten.txt", odd = "Transfering: /odd.bin", idx = "Transfering: /idx/index.htm";
        const QStringList tenTexts{ten, ten + " - 80 of 10000 bytes sent (00,80% Done).",
                                   ten + " - 8272 of 10000 bytes sent (82,72% Done)."};
        get("10000 bytes: header, 8192, 1808; query cut", "/ten.txt?v=7", Ten, tenTexts, {"127.0.0.1: {www}/ten.txt"});
        get("8192 bytes: one chunk", "/eight.bin", ok("*/*", QByteArray(8192, '\0')),
            {"Transfering: /eight.bin", "Transfering: /eight.bin - 79 of 8192 bytes sent (00,96% Done)."},
            {"127.0.0.1: {www}/eight.bin"});
        get("8193 bytes: 8192 and 1", "/odd.bin", ok("*/*", QByteArray(8193, '\0')),
            {odd, odd + " - 79 of 8193 bytes sent (00,96% Done).", odd + " - 8271 of 8193 bytes sent (100,95% Done)."},
            {"127.0.0.1: {www}/odd.bin"});
        get("empty file", "/empty.txt", ok("*/*", ""), {"Transfering: /empty.txt"},
            {"127.0.0.1: {www}/empty.txt", "(1) Error 11 - Division by zero"});
        get("folder's index file, per cent ungrouped", "/idx", ok("text/html", QByteArray(5, '\0')),
            {idx, idx + " - 82 of 5 bytes sent (1640,00% Done)."}, {"127.0.0.1: {www}/idx"});
        get("folder listing", "/list/", ok("text/html", "<html><body>This folder is empty.</body></html>"), {},
            {"127.0.0.1: {www}/list/"});
        get("missing", "/nothing.txt", NotFound, {}, {"127.0.0.1: {www}/nothing.txt"});
        get("hidden", "/%2egit/config", NotFound, {}, {"127.0.0.1: {www}/.git/config"});
        get("past the 32-bit counts", "/over.bin", NotFound, {}, {"127.0.0.1: {www}/over.bin", "(1) Error 6 - Overflow"});
        get("no leading slash, controls escaped", "x%0d%0aFORGED", NotFound, {}, {"127.0.0.1: {www}x%0D%0AFORGED"});
        get("empty path", "", NotFound);
        for (const char *path : {"/../secret.txt", "/%2e%2e/secret.txt", "/..\\secret.txt", "/ten.txt%00"})
            get(path, path, NotFound);
        for (const char *line : {"get / HTTP/1.0", "HEAD / HTTP/1.0", "GET /", "GET HTTP/1.0"})
            row(line, {QByteArray(line) + "\r\n"}, NotImplemented);
        row("past 8 KiB without a line end", {"GET /" + QByteArray(5000, 'a'), QByteArray(4000, 'a')}, NotImplemented);
        row("split across segments, a second request dropped", {"GE", "T /ten.t", "xt HTTP/1.0\r\nGET /x HTTP/1.0\r\n"}, Ten,
            tenTexts, {"127.0.0.1: {www}/ten.txt"});
        get("built-in page", "/quorandel/echo?x=1", head("200 OK") + "\nGET  127.0.0.1");
        get("no such page", "/quorandel/ten.txt", text("404 Not Found", "No such page."));
        const QByteArray post = "POST /quorandel/echo HTTP/1.1\r\n", nul(1, '\0');
        row("body and peer to the route", {post + "Content-Length: 3\r\n\r\na" + nul + 'c'},
            head("200 OK") + "\nPOST a" + nul + "c 127.0.0.1");
        row("no length", {post + "\r\nabc"}, text("411 Length Required", "A body needs its Content-Length."));
        row("bad length", {post + "Content-Length: 1e3\r\n\r\n"}, text("400 Bad Request", "The Content-Length is not a number."));
        row("body over 1 KiB", {post + "Content-Length: 1025\r\n\r\n"}, text("413 Payload Too Large", "The body is larger than 1 KiB."));
        row("NUL in a header", {post + "X: " + nul + "\r\n\r\n"}, text("400 Bad Request", "The request line or a header holds a NUL byte."));
        row("header block past 8 KiB", {post + "X: " + QByteArray(9000, 'a') + "\r\n\r\n"},
            text("431 Request Header Fields Too Large", "The header block is larger than 8 KiB."));
    }
    void answers()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArray, expected);
        QFETCH(QStringList, texts);
        QFETCH(QByteArrayList, logged);
        Fixture f;
        QCOMPARE(f.fetch(pieces), expected);
        QCOMPARE(f.texts.value(1), texts << QStringLiteral("Closed"));
        QCOMPARE(f.logged(), logged);
        QCOMPARE(f.files.lowestFree(), 1);  // every file given back
    }

    // Up to 256 slots, each made once. Past them the oldest connection still
    // waiting for its request gives way; freed slots are reused lowest first;
    // a request never finished does not hold its slot, and one whose body
    // stays short is told so.
    void slotTable()
    {
        Fixture f;
        std::vector<std::unique_ptr<Client>> idle;
        for (int i = 0; i < WebServer::MaxSlots; ++i)
            idle.push_back(f.start());
        QTRY_COMPARE_WITH_TIMEOUT(f.loaded, WebServer::MaxSlots, kWait);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        QVERIFY(idle[0]->waitClosed() && idle[1]->connected() && f.loaded == WebServer::MaxSlots);
        idle[2].reset();  // slot 3 frees after slot 1
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(3), QStringLiteral("Closed"), kWait);
        f.server.setRequestTimeout(300);
        const auto silent = f.start("GET /ten.txt HTT");
        QVERIFY(spinUntil([&] { return f.server.Slots(1).Received == "GET /ten.txt HTT"; }));
        QVERIFY(silent->waitClosed() && silent->received.isEmpty());
        const auto shortBody = f.start("POST /quorandel/control HTTP/1.0\r\nContent-Length: 100\r\n\r\naction=start");
        QVERIFY(shortBody->waitClosed());
        QCOMPARE(shortBody->received.left(shortBody->received.indexOf('\n')), QByteArray("HTTP/1.0 408 Request Timeout"));
        QVERIFY2(shortBody->received.endsWith("did not arrive within 0.3 s.\n"), shortBody->received.constData());
        QCOMPARE(f.logged().size(), 1);  // the fetch's line; a request's deadline is no error
    }

    // Streams hold no slot: more of them than slots, beside transfers that
    // fill every slot. An address keeps its newest few; the oldest of all
    // gives way only when the capacity is full. The window hears the count.
    void streamsApartFromSlots()
    {
        Fixture f;
        QSignalSpy counted(&f.server, &WebServer::streamsCounted);
        f.server.setSlotLimit(2);
        f.server.setStreamCapacity(3);
        f.server.setStreamsPerAddress(2);
        const QHostAddress a("127.0.0.2"), b("127.0.0.3");
        const auto a1 = f.openStream(0, a), a2 = f.openStream(0, a), b1 = f.openStream(0, b);
        QVERIFY(a1->connected() && a2->connected() && b1->connected());
        QCOMPARE(f.slotText(1), QStringLiteral("Moved to the live pages"));
        const auto a3 = f.openStream(0, a);
        QVERIFY(a1->waitClosed() && a2->connected());
        const auto c1 = f.openStream(0, QHostAddress("127.0.0.4"));
        QVERIFY(a2->waitClosed() && b1->connected() && a3->connected() && c1->connected());
        const auto first = f.sleeper(1), second = f.sleeper(2);
        Client refused(f.server.localPort());  // every slot answering: the system accepts it, the server does not
        QVERIFY(refused.waitClosed() && refused.received.isEmpty());
        QCOMPARE(f.server.sendEvent("data: change\n\n"), 3);
        for (Client *heard : {b1.get(), a3.get(), c1.get()})
            QVERIFY(spinUntil([&] { return heard->received.endsWith("data: first\n\ndata: change\n\n"); }));
        QTRY_VERIFY_WITH_TIMEOUT(!counted.isEmpty() && counted.last().first().toInt() == 3, kWait);
    }

    // A hall's worth of pages, each on a loopback address of its own and more
    // than there are slots, all hear a change.
    void crowdHearsAChange()
    {
        Fixture f;
        std::vector<std::unique_ptr<Client>> pages;
        for (int i = 0; i < WebServer::MaxSlots + 64; ++i)
            pages.push_back(f.openStream(0, QHostAddress(quint32(0x7F000100 + i))));  // 127.0.1.0 on
        QCOMPARE(f.server.streamCount(), WebServer::MaxSlots + 64);
        QCOMPARE(f.server.sendEvent("data: change\n\n"), WebServer::MaxSlots + 64);
        for (const auto &page : pages)
            QVERIFY(spinUntil([&] { return page->received.endsWith("data: first\n\ndata: change\n\n"); }));
        QVERIFY(f.fetch({"GET /ten.txt HTTP/1.0\n"}) == Ten && f.loaded < 8);
    }

    // A stream outlives the request deadline, gets every event and the
    // keep-alives, and frees its slot when its reader goes. A transfer that
    // stands still, and a stream whose reader takes nothing while events
    // go on, are closed after the send timeout.
    void readersAndStalls()
    {
        Fixture f;
        f.server.setRequestTimeout(100);
        f.server.setSendTimeout(400);
        f.server.setKeepAliveInterval(100);
        const auto transfer = f.sleeper(1), reader = f.openStream(), stalled = f.openStream(4096);
        QVERIFY(f.files.isOpen(1) && stalled->connected());
        QCOMPARE(f.slotText(2), QStringLiteral("Moved to the live pages"));
        stalled->readByHand(1);
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] { f.server.sendEvent("data: " + QByteArray(2000, 'x') + "\n\n"); });
        feed.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(f.slotText(1) == "Closed" && f.server.streamCount() == 1 && !f.files.isOpen(1), kWait);
        QCOMPARE(f.logged().mid(1), (QByteArrayList{"(1) Error 10060 - Send timed out: no progress for 0.4 s",
                                             "(2) Error 10060 - Events stream stalled: the reader has taken nothing for 0.4 s"}));
        feed.stop();
        QVERIFY(spinUntil([&] { return reader->received.endsWith(": keep-alive\n\nevent: ping\ndata: {}\n\n"); }));
        QVERIFY(reader->received.startsWith(head("200 OK") + "Content-Type: text/event-stream\n\ndata: first\n\ndata: xx"));
        reader->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(f.server.streamCount(), 0, kWait);
        QCOMPARE(f.server.sendEvent("data: third\n\n"), 0);
    }

    // A peer that resets is no error, and its file is given back. A file cut
    // short in place cannot keep its length: the transfer ends. With every
    // file number taken the browser may try again later.
    void fileHandling()
    {
        Fixture f;
        const auto reset = f.start("GET /big.bin HTTP/1.0\n");
        QVERIFY(spinUntil([&] { return reset->received.size() > 100000; }));
        reset->closeWithReset();
        QTRY_VERIFY_WITH_TIMEOUT(f.slotText(1) == "Closed" && !f.files.isOpen(1), kWait);
        const auto cut = f.start("GET /huge.bin HTTP/1.0\n");
        QVERIFY(spinUntil([&] { return f.files.isOpen(1); }));
        QCOMPARE(::truncate(f.www("huge.bin").constData(), 10000), 0);  // before a second chunk is read
        QVERIFY(cut->waitClosed());
        QCOMPARE(f.logged().mid(1), (QByteArrayList{"127.0.0.1: {www}/huge.bin", "(1) Error 62 - Input past end of file"}));
        for (int n = FileNumbers::First; n <= FileNumbers::Last; ++n)
            QVERIFY(f.files.openForReading(n, f.www("ten.txt")));
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), head("503 Service Unavailable") + '\n');
        QCOMPARE(f.logged().last(), QByteArray("(1) Error 67 - Too many files"));
    }

    // A folder is listed in steps between other work; a listing whose
    // connection goes is given up and never reaches the slot's next connection.
    void listingInSteps()
    {
        Fixture f;
        for (int i = 1; i < 5000; ++i)
            QCOMPARE(::link(f.www("many/0").constData(), f.www("many/" + QByteArray::number(i)).constData()), 0);
        const auto gone = f.start("GET /many/ HTTP/1.0\n");
        QVERIFY(spinUntil([&] { return f.server.findChildren<FolderAnswer *>().size() == 1; }));
        gone->closeWithReset();
        QTRY_VERIFY_WITH_TIMEOUT(f.server.findChildren<FolderAnswer *>().isEmpty(), kWait);
        const auto listing = f.start("GET /many/ HTTP/1.0\n"), small = f.start("GET /ten.txt HTTP/1.0\n");
        QVERIFY(small->waitClosed() && small->received == Ten && listing->received.isEmpty());
        QVERIFY(listing->waitClosed());
        QCOMPARE(listing->received, ok("text/html", listingInOneGo(f.www(""), "/many/", German)));
    }

    // A client that sends more than its request and reads slowly still gets
    // every byte: the server's close must not become a reset.
    void answerArrivesWholeAfterExtraBytes()
    {
        Fixture f;
        const auto r = f.start("GET /ten.txt HTTP/1.0\r\n\r\nGET /", 4096);
        r->readByHand(1024);
        QTimer slowly;  // a little at a time, and a few bytes more with each piece read
        QObject::connect(&slowly, &QTimer::timeout, [&] {
            r->received += r->read(1024);
            if (r->connected())
                r->write("more bytes\r\n");
        });
        slowly.start(2);
        QVERIFY(spinUntil([&] { return r->state() == Client::UnconnectedState && !r->bytesAvailable(); }));
        QCOMPARE(r->received, Ten);
    }

    void listenerOnPortInUse()
    {
        Fixture f, second;
        second.settings.LPort = QString::number(f.server.localPort());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Web server not running: port \\d+, Error 10048 - "));
        QVERIFY(!second.server.startListening() && !second.server.isListening() && f.server.isListening());
    }
};

QTEST_GUILESS_MAIN(TstWebServer)
#include "tst_webserver.moc"
