// SPDX-License-Identifier: GPL-3.0-or-later
// The real server on loopback, real files, clients over TCP (parsing: tst_httptext).

#include "web/WebServer.h"

#include "Fixtures.h"
#include "TempTree.h"
#include "platform/FileNumbers.h"
#include "settings/Settings.h"
#include "web/DirListing.h"
#include "web/FolderAnswer.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"

#include <QTcpSocket>
#include "QuorandelVersion.h"

#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

// The status line and the Server line of every answer.
QByteArray head(const char *status)
{
    return "HTTP/1.0 " + QByteArray(status) + "\nServer: " + QByteArray(QuorandelCaption) + '\n';
}

const QByteArray NotFound = head("404 Not Found") + '\n', NotImplemented = head("501 Not Implemented") + '\n',
                 Unavailable = head("503 Service Unavailable") + '\n';

QByteArray okHead(const QByteArray &type, qsizetype length)
{
    return head("200 OK") + "Content-Type: " + type + "\nContent-Length: " + QByteArray::number(length) + "\n\n";
}

QByteArray ok(const QByteArray &type, const QByteArray &body)
{
    return okHead(type, body.size()) + body;
}

const QByteArray Ten = ok("*/*", pattern(10000, 1)), Big = ok("*/*", pattern(1 << 20, 3));

bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// `count` names for one file of 3000 bytes: links are made far faster than
// as many files.
bool fillFolder(const QByteArray &folder, int count)
{
    const QByteArray first = folder + "entry-0.txt";
    bool made = writeFile(first, QByteArray(3000, 'x'));
    for (int i = 1; i < count && made; ++i)
        made = ::link(first.constData(), (folder + "entry-" + QByteArray::number(i) + ".txt").constData()) == 0;
    return made;
}

struct Client : QTcpSocket
{
    QByteArray received;
    // From `from` (any of 127/8 on Linux), and with a receive buffer of
    // `receiveBuffer` bytes, which must be set before connecting to narrow
    // the window the server sees.
    explicit Client(quint16 port, const QHostAddress &from = {}, int receiveBuffer = 0)
    {
        QObject::connect(this, &QIODevice::readyRead, [this] { received += readAll(); });
        if (!from.isNull() || receiveBuffer > 0)
            bind(from.isNull() ? QHostAddress(QHostAddress::LocalHost) : from, 0);
        if (receiveBuffer > 0)
            ::setsockopt(int(socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        connectToHost(QHostAddress::LocalHost, port);
    }
    bool waitClosed()
    {
        const bool closed = spinUntil([this] { return state() == UnconnectedState; });
        received += readAll();
        return closed;
    }
    // Qt takes at most `bytes` from the system until the test reads; with 1,
    // a reader that went to sleep, whose system buffers soon hold the sender back.
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

// Root "www" holds ten.txt, eight.bin, big.bin (1 MiB) and a hidden folder;
// "secret.txt" lies beside it, outside the root. Status lines are recorded.
struct Fixture : SlotStatus
{
    // huge.bin is more than the system's socket buffers hold.
    TempTree tree{{"www/", "www/list/", "www/.git/", "www/empty.txt", "www/huge.bin=67108864"}};
    Settings settings;
    RequestLog log;
    FileNumbers files;
    QMap<int, QStringList> texts;    // every status text, per slot
    int handled = 0;                 // connection requests the server has taken or refused
    QMap<int, qint64> unfinished;    // bytes of the send in progress, per slot
    QMap<int, QList<qint64>> sends;  // bytes of each completed send, per slot
    WebServer server{settings, log, *this, files, QString::fromLatin1(QuorandelCaption)};

    Fixture()
    {
        settings.WebRoot = QFile::decodeName(tree.path("www"));
        settings.LPort = QStringLiteral("0");
        server.setLocale(QLocale(QLocale::German, QLocale::Germany));
        // Connected after the server's own handlers, so these run once it has acted.
        QObject::connect(&server.WSock(), &WinsockArray::connectionRequested, [this] { ++handled; });
        QObject::connect(&server.WSock(), &WinsockArray::sendProgressed, [this](int n, qint64 sent, qint64 left) {
            unfinished[n] += sent;
            if (left == 0)
                sends[n] << unfinished.take(n);
        });
        if (!writeFile(www("ten.txt"), pattern(10000, 1)) || !writeFile(www("big.bin"), pattern(1 << 20, 3))
            || !writeFile(www(".git/config"), "hidden") || !writeFile(tree.path("secret.txt"), "secret")
            || !writeFile(www("eight.bin"), pattern(8192, 2)) || !server.startListening())
            qFatal("test fixture cannot be set up");
    }
    void loadSlot(int) override {}
    void setSlotText(int n, const QString &text) override { texts[n] << text; }
    QString slotText(int n) const override { return texts.value(n).value(texts.value(n).size() - 1); }
    QByteArray www(const QByteArray &name) const { return tree.path("www/" + name); }
    // Built-in pages as the live clock has them: a page, the state and the
    // events stream, which opens with `StreamHead`.
    void addLivePages()
    {
        server.addRoute("/quorandel/", [](const HttpRequest &, const QByteArray &) {
            return WebAnswer::text(okHead("text/html", PageBody.size()), PageBody);
        });
        server.addRoute("/quorandel/state.json", [](const HttpRequest &, const QByteArray &) {
            return WebAnswer::text(okHead("application/json", StateBody.size()), StateBody);
        });
        server.addRoute("/quorandel/events", [](const HttpRequest &, const QByteArray &) {
            return WebAnswer::events(StreamHead, "data: " + StateBody + "\n\n");
        });
    }
    static inline const QByteArray PageBody = "<!DOCTYPE html><title>Clock</title>" + QByteArray(3000, ' ');
    static inline const QByteArray StateBody = R"({"time":"06:30:00","running":true,"speed":4})";
    static inline const QByteArray StreamHead = head("200 OK") + "Content-Type: text/event-stream\n\n";
    // An events stream from `from`, once it has its first event or was refused.
    std::unique_ptr<Client> openStream(const QHostAddress &from = {}, int receiveBuffer = 0)
    {
        auto c = start("GET /quorandel/events HTTP/1.1\r\n\r\n", from, receiveBuffer);
        if (c)
            spinUntil([&] { return c->received.size() > StreamHead.size() || c->state() == Client::UnconnectedState; });
        return c;
    }
    // Errors, and connections too if asked, go to log.txt.
    bool logErrors(bool connections = false)
    {
        settings.LogE = true;
        settings.LogC = connections;
        return log.open(QFile::decodeName(tree.path("log.txt")));
    }
    QByteArray logged() const { return contentOf(QFile::decodeName(tree.path("log.txt"))); }
    // A client the server has taken into a slot, its request sent; null when not taken.
    std::unique_ptr<Client> start(const QByteArray &request = {}, const QHostAddress &from = {},
                                  int receiveBuffer = 0)
    {
        const int before = handled;
        auto c = std::make_unique<Client>(server.localPort(), from, receiveBuffer);
        if (!spinUntil([&] { return handled > before && c->state() == Client::ConnectedState; }))
            return nullptr;
        c->write(request);
        return c;
    }
    // Pieces go out a moment apart, so that each arrives in its own segment.
    QByteArray fetch(const QByteArrayList &pieces)
    {
        const auto c = start(pieces.first());
        for (qsizetype i = 1; c && i < pieces.size(); ++i) {
            QTest::qWait(30);
            c->write(pieces[i]);
        }
        return !c ? "(no slot)" : c->waitClosed() ? c->received : c->received + "(not closed)";
    }
};

}  // namespace

class TstWebServer : public QObject
{
    Q_OBJECT
private slots:
    void answers_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArray>("expected");
        auto get = [](const char *name, const QByteArray &path, const QByteArray &expected) {
            QTest::newRow(name) << QByteArrayList{"GET " + path + " HTTP/1.1\r\nHost: clock\r\n\r\n"} << expected;
        };
        get("10000 bytes", "/ten.txt", Ten);
        get("8192 bytes", "/eight.bin", ok("*/*", pattern(8192, 2)));
        get("empty file", "/empty.txt", ok("*/*", ""));
        get("query string cut", "/ten.txt?v=7&t=1", Ten);
        for (const char *path : {"/nothing.txt", "/../secret.txt", "/%2e%2e/secret.txt", "/.%2e/secret.txt",
                                 "/..\\secret.txt", "/ten.txt%00", "/%2egit/config"})
            get(path, path, NotFound);
        for (const char *line : {"get / HTTP/1.0", "HEAD / HTTP/1.0", "POST / HTTP/1.0", "GET /", "GET HTTP/1.0"})
            QTest::newRow(line) << QByteArrayList{QByteArray(line) + "\r\n"} << NotImplemented;
        QTest::newRow("split across segments") << QByteArrayList{"GE", "T /ten.t", "xt HTTP/1.0\r\n"} << Ten;
        QTest::newRow("second request at once") << QByteArrayList{"GET /ten.txt HTTP/1.0\nGET /x HTTP/1.0\n"} << Ten;
        QTest::newRow("second request while busy") << QByteArrayList{"GET /big.bin HTTP/1.0\n", "GET /ten.txt HTTP/1.0\n"}
                                                   << Big;
        QTest::newRow("over 8 KiB, no line end") << QByteArrayList{"GET /" + QByteArray(5000, 'a'), QByteArray(4000, 'a')}
                                                 << NotImplemented;
    }
    void answers()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArray, expected);
        Fixture f;
        QCOMPARE(f.fetch(pieces), expected);
        QList<qint64> sends{expected.indexOf("\n\n") + 2};  // the header, then chunks of 8192
        for (qsizetype at = sends[0]; at < expected.size(); at += 8192)
            sends << std::min<qsizetype>(8192, expected.size() - at);
        QCOMPARE(f.sends.value(1), sends);
        QCOMPARE(f.files.lowestFree(), 1);  // the served file was given back
    }

    // Built-in pages are answered ahead of the web root, by the route for
    // exactly their path, with their headers and body read; the rest of the
    // server does not change.
    void builtInRoutes_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ping = head("200 OK") + "Content-Length: 4\n\npong";
        QTest::newRow("route") << QByteArray("GET /quorandel/ping HTTP/1.1\r\nHost: x\r\n\r\n") << ping;
        QTest::newRow("query ignored") << QByteArray("GET /quorandel/ping?x=1 HTTP/1.1\r\n\r\n") << ping;
        QTest::newRow("body echoed") << QByteArray("POST /quorandel/echo HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                                     << head("200 OK") + "\nPOST abc";
        const auto text = [](const char *status, const char *line) {
            const QByteArray body = QByteArray(line) + '\n';
            return head(status) + "Content-Type: text/plain; charset=utf-8\nContent-Length: " + QByteArray::number(body.size())
                + "\n\n" + body;
        };
        QTest::newRow("no such page") << QByteArray("GET /quorandel/ten.txt HTTP/1.0\r\n\r\n")
                                      << text("404 Not Found", "No such page.");
        QTest::newRow("no length") << QByteArray("POST /quorandel/echo HTTP/1.0\r\n\r\nabc")
                                   << text("411 Length Required", "A body needs its Content-Length.");
        QTest::newRow("too large") << QByteArray("POST /quorandel/echo HTTP/1.0\r\nContent-Length: 5000\r\n\r\n")
                                   << text("413 Payload Too Large", "The body is larger than 1 KiB.");
        QTest::newRow("header block past 8 KiB") << "GET /quorandel/ping HTTP/1.1\r\nX: " + QByteArray(9000, 'a') + "\r\n\r\n"
                                                 << text("431 Request Header Fields Too Large", "The header block is larger than 8 KiB.");
        const QByteArray nul(1, '\0');
        const QByteArray nulRefused = text("400 Bad Request", "The request line or a header holds a NUL byte.");
        QTest::newRow("NUL in a header") << "POST /quorandel/echo HTTP/1.1\r\nX: " + nul + "\r\nContent-Length: 3\r\n\r\nabc"
                                         << nulRefused;
        QTest::newRow("NUL in the body, for the route") << "POST /quorandel/echo HTTP/1.1\r\nContent-Length: 3\r\n\r\na" + nul + "c"
                                                        << head("200 OK") + "\nPOST a" + nul + "c";
        QTest::newRow("web root untouched") << QByteArray("GET /ten.txt HTTP/1.0\r\n\r\n") << Ten;
    }
    void builtInRoutes()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        Fixture f;
        f.server.addRoute("/quorandel/ping", [](const HttpRequest &, const QByteArray &) {
            return WebAnswer::text(head("200 OK") + "Content-Length: 4\n\n", "pong");
        });
        f.server.addRoute("/quorandel/echo", [](const HttpRequest &r, const QByteArray &) {
            return WebAnswer::status(head("200 OK") + '\n' + r.method + ' ' + r.body);
        });
        QCOMPARE(f.fetch({request}), expected);
    }

    // An events stream keeps its slot past the request deadline, gets every
    // event and the keep-alive comments each followed by a ping event, and frees the slot when it goes.
    void eventsStream()
    {
        Fixture f;
        f.server.setRequestTimeout(200);
        f.server.setKeepAliveInterval(1000);
        const QByteArray &head = Fixture::StreamHead;
        f.server.addRoute("/quorandel/events", [&](const HttpRequest &, const QByteArray &) {
            return WebAnswer::events(head, "data: first\n\n");
        });
        const auto c = f.start("GET /quorandel/events HTTP/1.1\r\n\r\n");
        QVERIFY(c);
        QVERIFY(spinUntil([&] { return c->received == head + "data: first\n\n"; }));
        QTest::qWait(400);  // past the request deadline
        QCOMPARE(f.server.sendEvent("data: second\n\n"), 1);
        QVERIFY(spinUntil([&] { return c->received.endsWith(": keep-alive\n\nevent: ping\ndata: {}\n\n"); }));
        QVERIFY2(c->received.startsWith(head + "data: first\n\ndata: second\n\n"), c->received.constData());
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);  // the stream holds its slot only
        c->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(1), QStringLiteral("Closed"), kWait);
        QCOMPARE(f.server.sendEvent("data: third\n\n"), 0);
        QVERIFY(!f.server.Slots(1).Events);
    }

    // A folder of 20,000 files is listed between other work: a request that
    // comes in meanwhile is answered first, and the listing is still the
    // page made in one go.
    void largeListingLetsOthersThrough()
    {
        Fixture f;
        QVERIFY(fillFolder(f.www("list/"), 20000));
        const auto listing = f.start("GET /list/ HTTP/1.0\n");
        QVERIFY(listing);
        QVERIFY(spinUntil([&] { return f.server.Slots(1).Answered; }));
        const auto small = f.start("GET /ten.txt HTTP/1.0\n");
        QVERIFY(small);
        QVERIFY(small->waitClosed());
        QCOMPARE(small->received, Ten);
        QCOMPARE(listing->received, QByteArray());
        QVERIFY(listing->waitClosed());
        const QByteArray body = DirListing(f.www(""), "/list/", QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(body.count("<tr>") == 20000);
        QCOMPARE(listing->received, ok("text/html", body));
    }

    // An index file that only a pattern names is found by the same reading
    // that would have made the listing, and served instead of it.
    void indexFileFoundByReading()
    {
        Fixture f;
        f.settings.IndexHTML = QStringLiteral("index.htm;*.HTM");
        for (const QByteArray name : {"www/list/b.htm=5", "www/list/a.htm=3", "www/list/c.txt=1", "www/list/.a.htm=2"})
            f.tree.add(name);
        QVERIFY(f.tree.isValid());
        QCOMPARE(f.fetch({"GET /list HTTP/1.0\n"}), ok("text/html", QByteArray(3, '\0')));
    }

    // A listing whose connection goes while it is being made is given up,
    // and the slot serves its next connection as usual.
    void listingForAConnectionThatWent()
    {
        Fixture f;
        QVERIFY(fillFolder(f.www("list/"), 5000));
        auto listing = f.start("GET /list/ HTTP/1.0\n");
        QVERIFY(listing);
        QVERIFY(spinUntil([&] { return f.server.Slots(1).Answered; }));
        QCOMPARE(f.server.findChildren<FolderAnswer *>().size(), 1);
        listing->closeWithReset();
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(1), QStringLiteral("Closed"), kWait);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        QTRY_VERIFY_WITH_TIMEOUT(f.server.findChildren<FolderAnswer *>().isEmpty(), kWait);
        const qint64 head = Ten.indexOf("\n\n") + 2;
        QCOMPARE(f.sends.value(1), (QList<qint64>{head, 8192, Ten.size() - head - 8192}));  // ten.txt and nothing else
    }

    void logLinesAndProgressText()
    {
        Fixture f;
        QVERIFY(f.logErrors(true));
        QCOMPARE(f.fetch({"GET /empty.txt HTTP/1.0\n"}), ok("*/*", ""));
        const QList<QByteArray> lines = f.logged().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].endsWith(": 127.0.0.1: " + f.www("empty.txt") + '\r')
                     && lines[1].endsWith(": (1) Error 11 - Division by zero\r"), lines.join('|').constData());
        // The header counts as sent; never fewer than two digits before the separator.
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        QVERIFY2(f.texts[1].contains("Transfering: /ten.txt - 80 of 10000 bytes sent (00,80% Done)."),
                 qPrintable(f.texts[1].join('|')));
        // A path without its leading "/" is logged like any missing file, and
        // what it decodes to cannot start a line of its own.
        QCOMPARE(f.fetch({"GET x%0d%0aFORGED:%2010.0.0.66:%20/etc/shadow HTTP/1.0\n"}), NotFound);
        const QList<QByteArray> after = f.logged().split('\n');
        QCOMPARE(after.size(), 5);
        QVERIFY2(after[3].endsWith(": 127.0.0.1: " + f.www("").chopped(1) + "x%0D%0AFORGED: 10.0.0.66: /etc/shadow\r"),
                 after[3].constData());
    }

    // Every file number taken: the browser is told to try again, and the log
    // says why; a number given back serves again.
    void fileThatCannotBeOpened()
    {
        Fixture f;
        QVERIFY(f.logErrors());
        for (int n = FileNumbers::First; n <= FileNumbers::Last; ++n)
            QVERIFY(f.files.openForReading(n, f.www("ten.txt")));
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Unavailable);
        QVERIFY2(f.logged().endsWith(": (1) Error 67 - Too many files\r\n"), "no log line");
        f.files.close(7);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
    }

    // Past the cap, idle connections give way to newcomers, oldest first, so
    // that connections which send nothing cannot lock browsers out.
    void slotsUpToTheLimitLowestFreeFirst()
    {
        Fixture f;
        f.server.setRequestTimeout(60000);
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 300; ++i) {
            clients.push_back(f.start());
            QVERIFY2(clients.back(), qPrintable(QString::number(i)));
        }
        QCOMPARE(f.server.WSock().ubound(), WebServer::MaxSlots);
        QVERIFY(clients[0]->waitClosed() && clients[43]->waitClosed());
        QCOMPARE(clients[44]->state(), Client::ConnectedState);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        // Slot 1 frees (by a socket error) before slot 2, so the lowest is not the latest freed.
        emit f.server.WSock().element(1)->errorOccurred(10053, QStringLiteral("Software caused connection abort"));
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(1), QStringLiteral("Closed"), kWait);
        clients[257].reset();
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(2), QStringLiteral("Closed"), kWait);
        f.server.setRequestTimeout(300);
        const auto silent = f.start("GET /ten.txt HTT");  // never finished: it must not hold the slot for ever
        QVERIFY(silent);
        QCOMPARE(f.server.WSock().element(1)->state(), int(Winsock::Connected));  // at the cap: reused, not added
        QVERIFY(silent->waitClosed());
        QCOMPARE(silent->received, QByteArray());
    }

    // Readers that never read are closed once their transfer has stood still
    // for the send timeout; their slots and file numbers serve others again.
    void transferWithoutProgressIsClosed()
    {
        Fixture f;
        QVERIFY(f.logErrors());
        f.server.setSendTimeout(400);
        const auto sleeper = f.start("GET /huge.bin HTTP/1.0\n");
        QVERIFY(sleeper);
        sleeper->readByHand(1);
        QVERIFY(spinUntil([&] { return f.files.isOpen(1); }));
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(1), QStringLiteral("Closed"), kWait);
        QVERIFY(!f.files.isOpen(1));
        QVERIFY2(f.logged().endsWith(": (1) Error 10060 - Send timed out: no progress for 0.4 s\r\n"),
                 f.logged().constData());
        // A slow reader that keeps reading is not cut off.
        Client slow(f.server.localPort());
        QVERIFY(spinUntil([&] { return slow.state() == Client::ConnectedState; }));
        slow.write("GET /big.bin HTTP/1.0\n");
        QVERIFY(slow.waitClosed());
        QCOMPARE(slow.received, Big);
    }

    // Connections with a request in progress keep their slots; only when all
    // have one is a newcomer refused.
    void busySlotsAreNotTaken()
    {
        Fixture f;
        f.server.setSlotLimit(3);
        std::vector<std::unique_ptr<Client>> busy;
        const auto streaming = [&] {  // its request is in once its file is open
            busy.push_back(f.start("GET /huge.bin HTTP/1.0\n"));
            busy.back()->readByHand(1);
            return spinUntil([&] { return f.files.isOpen(int(busy.size())); });
        };
        QVERIFY(streaming() && streaming());
        const auto waiting = f.start("GET /ten.txt HTT");
        QVERIFY(waiting);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);  // took the waiting one's slot
        QVERIFY(waiting->waitClosed());
        QCOMPARE(waiting->received, QByteArray());
        QVERIFY(streaming());
        Client refused(f.server.localPort());  // the system accepts it before the server sees it
        QVERIFY(refused.waitClosed());
        QCOMPARE(refused.received, QByteArray());
        for (const auto &c : busy)
            QCOMPARE(c->state(), Client::ConnectedState);
    }

    void listenerOnPortInUse()
    {
        Fixture f, second;
        second.settings.LPort = QString::number(f.server.localPort());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Web server not running: .*, Error 10048 - "));
        QVERIFY(!second.server.startListening() && !second.server.isListening());
        QVERIFY(f.server.isListening());
        const QString text = second.slotText(0);
        QVERIFY2(text.startsWith("Web server not running: ") && text.contains(", Error 10048 - "), qPrintable(text));
    }

    // Two peers stream one file at once; it is replaced by rename part-way and one
    // peer resets: the other still gets the old file whole, and the freed slot serves.
    void twoStreamsRenameAndReset()
    {
        Fixture f;
        const auto a = f.start("GET /big.bin HTTP/1.0\n"), b = f.start("GET /big.bin?t=1 HTTP/1.1\r\n");
        QVERIFY(a && b);
        QVERIFY(spinUntil([&] { return a->received.size() > 100000 && b->received.size() > 100000; }));
        // Both still streaming, and nothing moves meanwhile: the server runs on this thread.
        QVERIFY(f.server.Slots(1).FileNum > 0 && f.server.Slots(2).FileNum > 0);
        QVERIFY(writeFile(f.www("new.bin"), pattern(1000, 8)));
        QCOMPARE(::rename(f.www("new.bin").constData(), f.www("big.bin").constData()), 0);
        a->closeWithReset();
        QVERIFY(b->waitClosed());
        QCOMPARE(b->received, Big);
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(1), QStringLiteral("Closed"), kWait);
        QVERIFY(!f.files.isOpen(1) && !f.files.isOpen(2));  // both files given back
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        QCOMPARE(f.server.WSock().ubound(), 2);
    }

    // Streams cannot lock browsers out: an address keeps its newest few, all
    // together keep half the slots; a file, the page and the state are still
    // served at once.
    void eventsStreamsAreCapped_data()
    {
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("kept");
        QTest::newRow("300 from one address") << 1 << 4;
        QTest::newRow("300 from 100 addresses") << 100 << WebServer::MaxSlots / 2;
    }
    void eventsStreamsAreCapped()
    {
        QFETCH(int, addresses);
        QFETCH(int, kept);
        Fixture f;
        f.addLivePages();
        std::vector<std::unique_ptr<Client>> streams;
        for (int i = 0; i < 300; ++i) {
            streams.push_back(f.openStream(QHostAddress(quint32(0x7F000001 + i % addresses))));
            QVERIFY2(streams.back(), qPrintable(QString::number(i)));
        }
        QCOMPARE(f.server.sendEvent("data: x\n\n"), kept);
        for (int i = 0; i < 300; ++i) {  // the newest are kept
            const bool open = i >= 300 - kept;
            QVERIFY2(open || streams[size_t(i)]->waitClosed(), qPrintable(QString::number(i)));
            QVERIFY2(!open || streams[size_t(i)]->state() == Client::ConnectedState, qPrintable(QString::number(i)));
        }
        const QList<std::pair<QByteArray, QByteArray>> fetches{
            {"/ten.txt", Ten},
            {"/quorandel/", ok("text/html", Fixture::PageBody)}, {"/quorandel/state.json", ok("application/json", Fixture::StateBody)}};
        for (const auto &[path, expected] : fetches) {
            QElapsedTimer took;
            took.start();
            QCOMPARE(f.fetch({"GET " + path + " HTTP/1.0\r\n\r\n"}), expected);
            QVERIFY2(took.elapsed() < 1000, path.constData());
        }
    }

    // Every slot busy, streams among them: a newcomer takes the oldest
    // stream's slot rather than being refused.
    void streamGivesWayWhenEverySlotIsBusy()
    {
        Fixture f;
        f.addLivePages();
        f.server.setSlotLimit(4);  // at most two streams
        std::vector<std::unique_ptr<Client>> busy;
        for (int i = 1; i <= 2; ++i) {
            busy.push_back(f.start("GET /huge.bin HTTP/1.0\n"));
            busy.back()->readByHand(1);
            QVERIFY(spinUntil([&] { return f.files.isOpen(i); }));
        }
        const auto older = f.openStream(), newer = f.openStream();
        QVERIFY(older && newer);
        QCOMPARE(f.server.sendEvent("data: x\n\n"), 2);
        QCOMPARE(f.fetch({"GET /ten.txt HTTP/1.0\n"}), Ten);
        QVERIFY(older->waitClosed());
        QCOMPARE(newer->state(), Client::ConnectedState);
        for (const auto &c : busy)
            QCOMPARE(c->state(), Client::ConnectedState);
    }

    // A stream whose reader stopped reading is closed once what waits for it
    // has not gone down for the send timeout, though events and keep-alives
    // go on being written to it; a stream that reads stays.
    void stalledStreamIsClosed()
    {
        Fixture f;
        QVERIFY(f.logErrors());
        f.addLivePages();
        f.server.setSendTimeout(500);
        f.server.setKeepAliveInterval(100);
        const auto reader = f.openStream();
        const auto sleeper = f.openStream({}, 4096);
        QVERIFY(reader && sleeper);
        sleeper->readByHand(1);
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] { f.server.sendEvent("data: " + QByteArray(2000, 'x') + "\n\n"); });
        feed.start(20);
        // The sleeper cannot see the close: it reads nothing, the end included.
        QTRY_COMPARE_WITH_TIMEOUT(f.slotText(2), QStringLiteral("Closed"), kWait);
        QVERIFY2(f.logged().endsWith(": (2) Error 10060 - Events stream stalled: the reader has taken nothing for 0.5 s\r\n"),
                 f.logged().constData());
        const qsizetype before = reader->received.size();
        QVERIFY(spinUntil([&] { return reader->received.size() > before + 100000; }));
        QCOMPARE(reader->state(), Client::ConnectedState);
        QCOMPARE(f.server.sendEvent("data: y\n\n"), 1);
    }

    // A client that sends more than its request and reads slowly still gets
    // every byte of its answer: the server's close must not become a reset.
    void answersArriveWholeAfterExtraBytes_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("file");
        QTest::newRow("64 KB file") << QByteArray("/sixty-four.bin") << true;
        QTest::newRow("state.json") << QByteArray("/quorandel/state.json") << false;
    }
    void answersArriveWholeAfterExtraBytes()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, file);
        Fixture f;
        f.addLivePages();
        QVERIFY(writeFile(f.www("sixty-four.bin"), pattern(65536, 5)));
        const QByteArray expected = file ? ok("*/*", pattern(65536, 5)) : ok("application/json", Fixture::StateBody);
        const int tries = 200, atOnce = 20;
        int whole = 0;
        for (int done = 0; done < tries; done += atOnce) {
            std::vector<std::unique_ptr<Client>> readers;
            for (int i = 0; i < atOnce; ++i) {
                readers.push_back(f.start("GET " + path + " HTTP/1.0\r\n\r\nGET /ten.txt HTTP/1.0\r\n\r\n", {}, 4096));
                QVERIFY(readers.back());
                readers.back()->readByHand(2048);
            }
            // A little at a time, and a few bytes more sent with each piece read.
            QTimer slowly;
            QObject::connect(&slowly, &QTimer::timeout, [&] {
                for (const auto &r : readers) {
                    r->received += r->read(2048);
                    if (r->state() == Client::ConnectedState)
                        r->write("more bytes\r\n");
                }
            });
            slowly.start(2);
            QVERIFY(spinUntil([&] {
                return std::all_of(readers.begin(), readers.end(), [](const auto &r) {
                    return r->state() == Client::UnconnectedState && r->bytesAvailable() == 0;
                });
            }));
            whole += int(std::count_if(readers.begin(), readers.end(), [&](const auto &r) { return r->received == expected; }));
        }
        QCOMPARE(whole, tries);
    }
};

QTEST_GUILESS_MAIN(TstWebServer)
#include "tst_webserver.moc"
