// The web server in process: the real server on loopback, real files, the
// real event loop, clients that speak to it over TCP. Ports are chosen by the OS.

#include "web/WebServer.h"

#include "TempTree.h"
#include "platform/FileNumbers.h"
#include "settings/Settings.h"
#include "web/DirListing.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

#include <functional>
#include <memory>

namespace {

const int kWait = 20000;
const QByteArray NotFound = "HTTP/1.0 404 Not Found\nServer: Quorandel 1.40\n\n";
const QByteArray NotImplemented = "HTTP/1.0 501 Not Implemented\nServer: Quorandel 1.40\n\n";

QByteArray ok(const QByteArray &type, const QByteArray &body)
{
    return "HTTP/1.0 200 OK\nServer: Quorandel 1.40\nContent-Type: " + type + "\nContent-Length: "
        + QByteArray::number(body.size()) + "\n\n" + body;
}

QByteArray pattern(int size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed + i / 253) & 0xFF);
    return data;
}

// By the system calls, so that the name is exactly the bytes given.
bool writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

// The sends a response should take: the header, then the body in chunks of 8192.
QList<qint64> expectedSends(const QByteArray &response)
{
    const qsizetype headerEnd = response.indexOf("\n\n") + 2;
    QList<qint64> sends{headerEnd};
    for (qsizetype at = headerEnd; at < response.size(); at += 8192)
        sends.append(std::min<qsizetype>(8192, response.size() - at));
    return sends;
}

// Runs the event loop until the condition holds. Not qWaitFor: its naps of
// 10 ms between passes would slow the send pump to one step per nap.
bool spinUntil(const std::function<bool()> &done)
{
    QTimer wake;  // so that the deadline is seen even when nothing happens
    wake.start(50);
    const QDeadlineTimer deadline(kWait);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

class StatusRecorder : public SlotStatus
{
public:
    QVector<QStringList> history{{QStringLiteral("(No Connection)")}};
    void loadSlot(int slot) override
    {
        history.resize(std::max<int>(history.size(), slot + 1));
        history[slot] = QStringList{slotText(0)};
    }
    void setSlotText(int slot, const QString &text) override { history[slot].append(text); }
    QString slotText(int slot) const override { return history.value(slot).value(history.value(slot).size() - 1); }
};

// A client socket that keeps everything it receives.
struct Client
{
    QTcpSocket socket;
    QByteArray received;
    Client() { QObject::connect(&socket, &QIODevice::readyRead, [this] { received += socket.readAll(); }); }
    bool open(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return spinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    // Pieces go out a moment apart, so that each arrives on its own.
    void send(const QByteArrayList &pieces)
    {
        for (const QByteArray &piece : pieces) {
            socket.write(piece);
            QTest::qWait(30);
        }
    }
    bool isUnconnected() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // Closing with a zero linger sends RST instead of FIN.
    void reset()
    {
        const linger hard{1, 0};
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket.abort();
    }
    bool waitClosed()
    {
        const bool closed = spinUntil([&] { return isUnconnected(); });
        received += socket.readAll();
        return closed;
    }
};

// A web root "www" with a file "secret.txt" beside it, and the server on it.
struct Fixture
{
    TempTree tree{{"www/", "www/site/", "www/list/", "www/.git/", "www/empty.txt"}};
    Settings settings;
    RequestLog log;
    StatusRecorder status;
    FileNumbers files;
    WebServer server{settings, log, status, files, QStringLiteral("Quorandel 1.40")};
    QMap<int, qint64> unfinished;
    QMap<int, QList<qint64>> sends;  // bytes of each completed send, per slot
    QList<int> completions;

    Fixture()
    {
        settings.WebRoot = QFile::decodeName(tree.path("www"));
        settings.IndexHTML = QStringLiteral("index.htm");
        settings.LPort = QStringLiteral("0");
        server.setLocale(QLocale(QLocale::German, QLocale::Germany));
        const WinsockArray *wsock = &server.WSock();
        QObject::connect(wsock, &WinsockArray::sendProgressed, [this](int n, qint64 sent, qint64) { unfinished[n] += sent; });
        QObject::connect(wsock, &WinsockArray::sendCompleted, [this](int n) {
            sends[n].append(unfinished.take(n));
            completions.append(n);
        });
    }
    int busySlots() const
    {
        int count = 0;
        for (int n = 1; n <= server.WSock().ubound(); ++n)
            count += server.WSock().element(n)->state() != Winsock::Closed;
        return count;
    }
    // Opens the client and waits until the server has taken it into a slot.
    bool connect(Client &c)
    {
        const int before = busySlots();
        return c.open(server.localPort()) && spinUntil([&] { return busySlots() == before + 1; });
    }
    QByteArray www(const QByteArray &name) const { return tree.path("www/" + name); }
    QByteArray fetch(const QByteArrayList &pieces)
    {
        Client c;
        if (!c.open(server.localPort()))
            return "(no connection)";
        c.send(pieces);
        return c.waitClosed() ? c.received : c.received + "(not closed)";
    }
    QByteArray fetch(const QByteArray &request) { return fetch(QByteArrayList{request}); }
    bool openLog() { return log.open(QFile::decodeName(tree.path("PortulaLog.txt"))); }
    QList<QByteArray> logLines() const
    {
        QFile f(QFile::decodeName(tree.path("PortulaLog.txt")));
        return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>{};
    }
};

}  // namespace

class TstWebServer : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void listingInThreeChunks();
    void progressTexts_data();
    void progressTexts();
    void logLines_data();
    void logLines();
    void requestInPiecesOrRepeated_data();
    void requestInPiecesOrRepeated();
    void silentConnectionIsClosed();
    void slotsLowestFreeFirst();
    void connectionsBeyondTheLimitAreRefused();
    void listenerFailureLeavesProgramRunning_data();
    void listenerFailureLeavesProgramRunning();
    void connectionErrorClosesOnlyItsSlot();
    void twoSlotsSendAtOnce();
    void peersResettingAtAnyMoment();
    void slotClosedWhileTheTickYieldsGetsNothing();
    void fileReplacedWhileStreamingStaysWhole();
    void fileThatCannotBeServed_data();
    void fileThatCannotBeServed();
};

void TstWebServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");
    auto row = [](const char *name, const QByteArray &path, const QByteArray &expected) {
        QTest::newRow(name) << "GET " + path + " HTTP/1.0\r\n\r\n" << expected;
    };
    const QByteArray ten = pattern(10000, 1);
    row("file of 10000 bytes", "/ten.txt", ok("*/*", ten));
    row("file of 8192 bytes", "/eight.bin", ok("*/*", pattern(8192, 2)));
    row("empty file", "/empty.txt", ok("*/*", ""));
    row("folder with index file", "/site", ok("text/html", "<p>home</p>"));
    row("escaped space", "/my%20file.txt", ok("*/*", "spaced"));
    row("other escapes", "/%41b%63.htm", ok("text/html", "<p>abc</p>"));
    row("name that is not UTF-8", "/caf%E9.png", ok("image/png", "png"));
    row("query string", "/ten.txt?v=7&t=1", ok("*/*", ten));
    QTest::newRow("header lines") << QByteArray("GET /Abc.htm HTTP/1.1\r\nHost: x\r\nAccept: */*\r\n\r\n")
                                  << ok("text/html", "<p>abc</p>");
    row("missing", "/nothing.txt", NotFound);
    row("empty path", "", NotFound);
    for (const char *path : {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E/secret.txt", "/.%2e/secret.txt",
                             "/list/../../secret.txt", "/%2e%2e%2fsecret.txt", "/..\\secret.txt",
                             "/ten.txt%00", "/.hidden.txt", "/.git/config", "/%2egit/config"})
        row(path, path, NotFound);
    for (const char *request : {"get / HTTP/1.0", "HEAD / HTTP/1.0", "POST / HTTP/1.0", "GET /", "GET HTTP/1.0"})
        QTest::newRow(request) << QByteArray(request) + "\r\n" << NotImplemented;
}

void TstWebServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    Fixture f;
    QVERIFY(writeFile(f.www("ten.txt"), pattern(10000, 1)));
    QVERIFY(writeFile(f.www("eight.bin"), pattern(8192, 2)));
    QVERIFY(writeFile(f.www("site/index.htm"), "<p>home</p>"));
    QVERIFY(writeFile(f.www("my file.txt"), "spaced"));
    QVERIFY(writeFile(f.www("Abc.htm"), "<p>abc</p>"));
    QVERIFY(writeFile(f.www("caf\xe9.png"), "png"));
    QVERIFY(writeFile(f.www(".hidden.txt"), "hidden"));
    QVERIFY(writeFile(f.www(".git/config"), "hidden"));
    QVERIFY(writeFile(f.tree.path("secret.txt"), "secret"));
    QVERIFY(f.server.startListening());

    const QByteArray response = f.fetch(request);
    QCOMPARE(response, expected);
    QCOMPARE(f.sends.value(1), expectedSends(expected));
    QCOMPARE(f.status.slotText(1), QStringLiteral("Closed"));
    QCOMPARE(f.files.lowestFree(), 1);  // the served file was given back
}

void TstWebServer::listingInThreeChunks()
{
    Fixture f;
    for (int i = 0; i < 110; ++i)
        f.tree.add("www/list/" + QByteArray::number(1000 + i) + QByteArray(40, 'x') + ".txt=3000");
    f.tree.add("www/list/.hidden.txt");
    f.tree.add("www/list/sub/");
    QVERIFY(f.server.startListening());
    const QByteArray body = DirListing(f.www(""), "/list", QLocale(QLocale::German, QLocale::Germany));
    QVERIFY2(body.size() > 2 * 8192 && body.size() <= 3 * 8192, QByteArray::number(body.size()).constData());
    QVERIFY(body.contains("/list/sub") && !body.contains(".hidden"));
    const QByteArray response = f.fetch("GET /list HTTP/1.0\n");
    QCOMPARE(response, ok("text/html", body));
    QCOMPARE(f.sends.value(1).mid(1), (QList<qint64>{8192, 8192, body.size() - 2 * 8192}));
    QCOMPARE(f.status.history.value(1), (QStringList{"Listening", "Closed"}));
}

void TstWebServer::progressTexts_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("10000 bytes") << QByteArray("/ten.txt")
        << QStringList{"Transfering: /ten.txt", "Transfering: /ten.txt - 80 of 10000 bytes sent (00,80% Done).",
                       "Transfering: /ten.txt - 8272 of 10000 bytes sent (82,72% Done).", "Closed"};
    QTest::newRow("one byte, never grouped") << QByteArray("/one%20b.txt")
        << QStringList{"Transfering: /one%20b.txt", "Transfering: /one%20b.txt - 76 of 1 bytes sent (7600,00% Done).",
                       "Closed"};
    QTest::newRow("empty file shows none") << QByteArray("/empty.txt")
        << QStringList{"Transfering: /empty.txt", "Closed"};
}

void TstWebServer::progressTexts()
{
    QFETCH(QByteArray, path);
    QFETCH(QStringList, texts);
    Fixture f;
    QVERIFY(writeFile(f.www("ten.txt"), pattern(10000, 1)));
    QVERIFY(writeFile(f.www("one b.txt"), "1"));
    QVERIFY(f.server.startListening());
    QVERIFY(f.fetch("GET " + path + " HTTP/1.0\n").startsWith("HTTP/1.0 200 OK"));
    QCOMPARE(f.status.history.value(1), QStringList{"Listening"} + texts);
}

void TstWebServer::logLines_data()
{
    QTest::addColumn<bool>("logC");
    QTest::addColumn<bool>("logE");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArrayList>("endings");
    const QByteArray peer = ": 127.0.0.1: ";
    const QByteArray divide = ": (1) Error 11 - Division by zero";
    QTest::newRow("request") << true << false << QByteArray("GET / HTTP/1.0\n") << QByteArrayList{peer + "ROOT/www/"};
    QTest::newRow("missing file") << true << false << QByteArray("GET /no HTTP/1.0\n") << QByteArrayList{peer + "ROOT/www/no"};
    QTest::newRow("501 not logged") << true << true << QByteArray("HEAD / HTTP/1.0\n") << QByteArrayList{};
    QTest::newRow("traversal not logged") << true << true << QByteArray("GET /../x HTTP/1.0\n") << QByteArrayList{};
    QTest::newRow("LogC off") << false << true << QByteArray("GET / HTTP/1.0\n") << QByteArrayList{};
    QTest::newRow("empty file") << false << true << QByteArray("GET /empty.txt HTTP/1.0\n") << QByteArrayList{divide};
    QTest::newRow("both") << true << true << QByteArray("GET /empty.txt HTTP/1.0\n")
                          << QByteArrayList{peer + "ROOT/www/empty.txt", divide};
    QTest::newRow("LogE off") << true << false << QByteArray("GET /empty.txt HTTP/1.0\n")
                              << QByteArrayList{peer + "ROOT/www/empty.txt"};
}

void TstWebServer::logLines()
{
    QFETCH(bool, logC);
    QFETCH(bool, logE);
    QFETCH(QByteArray, request);
    QFETCH(QByteArrayList, endings);
    Fixture f;
    f.settings.LogC = logC;
    f.settings.LogE = logE;
    QVERIFY(f.openLog());
    QVERIFY(f.server.startListening());
    QVERIFY(!f.fetch(request).isEmpty());
    const QList<QByteArray> lines = f.logLines();
    QCOMPARE(lines.size(), endings.size() + 1);  // the last line end leaves an empty piece
    for (int i = 0; i < endings.size(); ++i) {
        const QByteArray ending = endings[i].replace("ROOT", f.tree.root()) + '\r';
        QVERIFY2(lines[i].endsWith(ending) && lines[i].size() > ending.size() + 8, lines[i].constData());
    }
}

void TstWebServer::requestInPiecesOrRepeated_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray ten = ok("*/*", pattern(10000, 1));
    QTest::newRow("three pieces") << QByteArrayList{"GE", "T /ten.t", "xt HTTP/1.0\r\n\r\n"} << ten;
    QTest::newRow("cut inside the version") << QByteArrayList{"GET /ten.txt HTTP/1.", "0\r\n"} << ten;
    QTest::newRow("second request at once") << QByteArrayList{"GET /ten.txt HTTP/1.0\r\nGET /x HTTP/1.0\r\n"} << ten;
    QTest::newRow("second request while sending") << QByteArrayList{"GET /big.bin HTTP/1.0\r\n", "GET /ten.txt HTTP/1.0\r\n"}
                                                  << ok("*/*", pattern(4 << 20, 3));
    QTest::newRow("line end without a match") << QByteArrayList{"GET /ten.txt", "\n"} << NotImplemented;
    QTest::newRow("8 KiB without a line end") << QByteArrayList{"GET /" + QByteArray(5000, 'a'), QByteArray(4000, 'a')}
                                              << NotImplemented;
}

void TstWebServer::requestInPiecesOrRepeated()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, expected);
    Fixture f;
    QVERIFY(writeFile(f.www("ten.txt"), pattern(10000, 1)));
    QVERIFY(writeFile(f.www("big.bin"), pattern(4 << 20, 3)));
    QVERIFY(f.server.startListening());
    QCOMPARE(f.fetch(pieces), expected);
}

void TstWebServer::silentConnectionIsClosed()
{
    Fixture f;
    f.server.setRequestTimeout(300);
    QVERIFY(f.server.startListening());
    Client c;
    QVERIFY(c.open(f.server.localPort()));
    c.send({"GET /ten.txt HTT"});
    QVERIFY(c.waitClosed());
    QCOMPARE(c.received, QByteArray());
    QCOMPARE(f.status.slotText(1), QStringLiteral("Closed"));
    QCOMPARE(f.server.WSock().element(1)->state(), int(Winsock::Closed));
}

void TstWebServer::slotsLowestFreeFirst()
{
    Fixture f;
    QVERIFY(f.server.startListening());
    QCOMPARE(f.status.slotText(0), QStringLiteral("Listening"));
    QCOMPARE(f.server.Slots().size(), 0);
    auto a = std::make_unique<Client>();
    auto b = std::make_unique<Client>();
    QVERIFY(f.connect(*a));
    QCOMPARE(f.server.WSock().ubound(), 1);
    QVERIFY(f.connect(*b));
    QCOMPARE(f.server.WSock().ubound(), 2);
    QCOMPARE(f.server.Slots().size(), 3);
    QCOMPARE(f.status.history.size(), 3);
    QCOMPARE(f.status.history[2].first(), QStringLiteral("Listening"));  // a copy of line 0
    for (int n : {1, 2}) {
        QVERIFY(!f.server.TSendData(n)->isEnabled());
        QCOMPARE(f.server.TSendData(n)->interval(), 1);
    }
    b.reset();
    QTRY_COMPARE_WITH_TIMEOUT(f.status.slotText(2), QStringLiteral("Closed"), kWait);
    a.reset();
    QTRY_COMPARE_WITH_TIMEOUT(f.status.slotText(1), QStringLiteral("Closed"), kWait);
    Client c;  // both are free: the lowest is taken
    QVERIFY(f.connect(c));
    QCOMPARE(f.server.WSock().element(1)->state(), int(Winsock::Connected));
    QCOMPARE(f.server.WSock().element(2)->state(), int(Winsock::Closed));
    QCOMPARE(f.server.WSock().ubound(), 2);
}

void TstWebServer::connectionsBeyondTheLimitAreRefused()
{
    Fixture f;
    QVERIFY(f.server.startListening());
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < WebServer::MaxSlots; ++i) {
        clients.push_back(std::make_unique<Client>());
        QVERIFY(f.connect(*clients.back()));
    }
    Client refused;
    QVERIFY(refused.open(f.server.localPort()));  // the system accepts it before the server sees it
    QVERIFY(refused.waitClosed());
    QCOMPARE(refused.received, QByteArray());
    QCOMPARE(f.server.WSock().ubound(), WebServer::MaxSlots);
    QVERIFY(f.server.isListening());
    clients.front().reset();  // a slot comes free and is taken again
    QTRY_COMPARE_WITH_TIMEOUT(f.status.slotText(1), QStringLiteral("Closed"), kWait);
    Client next;
    QVERIFY(f.connect(next));
    QCOMPARE(f.server.WSock().ubound(), WebServer::MaxSlots);
}

void TstWebServer::listenerFailureLeavesProgramRunning_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("reason");
    QTest::newRow("port in use") << QStringLiteral("in use") << QStringLiteral(", Error 10048 - ");
    QTest::newRow("not a number") << QStringLiteral("80a") << QStringLiteral("\"80a\" is not a port number");
    QTest::newRow("out of range") << QStringLiteral("65536") << QStringLiteral("\"65536\" is not a port number");
    QTest::newRow("error while listening") << QStringLiteral("0") << QStringLiteral(", Error 10050 - gone");
}

void TstWebServer::listenerFailureLeavesProgramRunning()
{
    QFETCH(QString, port);
    QFETCH(QString, reason);
    Fixture f;
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::AnyIPv4, 0));
    f.settings.LPort = port == "in use" ? QString::number(holder.serverPort()) : port;
    QElapsedTimer clock;
    clock.start();
    const bool listening = f.server.startListening();
    QVERIFY(clock.elapsed() < WebServer::ListenWaitMs);
    if (listening) {
        QVERIFY(f.server.isListening());
        emit f.server.WSock().element(0)->errorOccurred(10050, QStringLiteral("gone"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.server.isListening(), kWait);
    }
    QVERIFY(!f.server.isListening());
    QVERIFY2(f.status.slotText(0).startsWith(QStringLiteral("Web server not running: ")), qPrintable(f.status.slotText(0)));
    QVERIFY2(f.status.slotText(0).contains(reason), qPrintable(f.status.slotText(0)));
}

void TstWebServer::connectionErrorClosesOnlyItsSlot()
{
    Fixture f;
    f.settings.LogE = true;
    QVERIFY(f.openLog());
    QVERIFY(writeFile(f.www("big.bin"), pattern(4 << 20, 3)));
    QVERIFY(f.server.startListening());
    Client sending, idle;
    QVERIFY(f.connect(sending));
    QVERIFY(f.connect(idle));
    sending.send({"GET /big.bin HTTP/1.0\r\n"});
    QVERIFY(spinUntil([&] { return sending.received.size() > 20000; }));
    emit f.server.WSock().element(1)->errorOccurred(10053, QStringLiteral("Software caused connection abort"));
    QVERIFY(sending.waitClosed());
    QVERIFY(sending.received.size() < (4 << 20));
    QCOMPARE(f.status.slotText(1), QStringLiteral("Closed"));
    QCOMPARE(f.files.lowestFree(), 1);
    QCOMPARE(idle.socket.state(), QAbstractSocket::ConnectedState);
    QVERIFY(f.logLines().first().endsWith(": (1) Error 10053 - Software caused connection abort\r"));
    QCOMPARE(f.fetch("GET /empty.txt HTTP/1.0\n"), ok("*/*", ""));
}

// Peers that reset (RST) at every stage of their transfers, many at once:
// the server stays up and gets back every slot and every file number.
void TstWebServer::peersResettingAtAnyMoment()
{
    Fixture f;
    QVERIFY(writeFile(f.www("big.bin"), pattern(1 << 20, 9)));
    QVERIFY(f.server.startListening());
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(std::make_unique<Client>());
        Client *c = clients.back().get();
        const int limit = (i * 7919) % 400000;
        QObject::connect(&c->socket, &QAbstractSocket::connected, [c] { c->socket.write("GET /big.bin HTTP/1.0\n"); });
        QObject::connect(&c->socket, &QIODevice::readyRead, [c, limit] {
            if (c->received.size() > limit)
                c->reset();
        });
        c->socket.connectToHost(QHostAddress::LocalHost, f.server.localPort());
        QCoreApplication::processEvents();
    }
    QVERIFY(spinUntil([&] {
        return std::all_of(clients.begin(), clients.end(), [](const auto &c) { return c->isUnconnected(); });
    }));
    QTRY_COMPARE_WITH_TIMEOUT(f.busySlots(), 0, kWait);
    QCOMPARE(f.files.lowestFree(), 1);
    for (int n = 1; n <= f.server.WSock().ubound(); ++n)
        QCOMPARE(f.status.slotText(n), QStringLiteral("Closed"));
    QCOMPARE(f.fetch("GET /empty.txt HTTP/1.0\n"), ok("*/*", ""));
}

// The peer's close event is queued just before a pump tick, so that it runs
// while the tick yields between reading a chunk and sending it.
void TstWebServer::slotClosedWhileTheTickYieldsGetsNothing()
{
    Fixture f;
    QVERIFY(writeFile(f.www("big.bin"), pattern(1 << 20, 10)));
    QVERIFY(f.server.startListening());
    Client c;
    QVERIFY(f.connect(c));
    Timer *pump = f.server.TSendData(1);
    QVERIFY(QObject::disconnect(pump, &Timer::ticked, &f.server, nullptr));
    int ticks = 0;
    QObject::connect(pump, &Timer::ticked, &f.server, [&] {
        if (++ticks == 3)
            QMetaObject::invokeMethod(&f.server, [&] { f.server.WSock_Close(1); }, Qt::QueuedConnection);
        f.server.TSendData_Timer(1);
    });
    c.send({"GET /big.bin HTTP/1.0\n"});
    QVERIFY(c.waitClosed());
    QCOMPARE(ticks, 3);
    QCOMPARE(c.received, ok("*/*", pattern(1 << 20, 10)).left(expectedSends(c.received).first() + 2 * 8192));
    QCOMPARE(f.files.lowestFree(), 1);
    QCOMPARE(f.status.slotText(1), QStringLiteral("Closed"));
    QVERIFY(f.server.isListening());
}

void TstWebServer::twoSlotsSendAtOnce()
{
    Fixture f;
    QVERIFY(writeFile(f.www("a.bin"), pattern(300000, 5)));
    QVERIFY(writeFile(f.www("b.bin"), pattern(300000, 6)));
    QVERIFY(f.server.startListening());
    Client a, b;
    QVERIFY(f.connect(a));
    QVERIFY(f.connect(b));
    a.socket.write("GET /a.bin HTTP/1.0\n");
    b.socket.write("GET /b.bin HTTP/1.0\n");
    QVERIFY(a.waitClosed());
    QVERIFY(b.waitClosed());
    QCOMPARE(a.received, ok("*/*", pattern(300000, 5)));
    QCOMPARE(b.received, ok("*/*", pattern(300000, 6)));
    // Interleaved: each slot completed sends while the other was still sending.
    QVERIFY(f.completions.indexOf(2) < f.completions.lastIndexOf(1));
    QVERIFY(f.completions.indexOf(1) < f.completions.lastIndexOf(2));
    for (int n : {1, 2}) {
        const QString own = n == 1 ? "/a.bin" : "/b.bin";
        const QStringList texts = f.status.history[n].mid(1, f.status.history[n].size() - 2);
        QVERIFY(texts.size() > 30);
        for (const QString &text : texts)
            QVERIFY2(text.startsWith("Transfering: " + own), qPrintable(text));
    }
}

void TstWebServer::fileReplacedWhileStreamingStaysWhole()
{
    Fixture f;
    const QByteArray old = pattern(4 << 20, 7);
    QVERIFY(writeFile(f.www("Quorandel.png"), old));
    QVERIFY(f.server.startListening());
    Client c;
    QVERIFY(c.open(f.server.localPort()));
    c.send({"GET /Quorandel.png?t=1 HTTP/1.1\r\n"});
    QVERIFY(spinUntil([&] { return c.received.size() > 16384; }));
    QVERIFY(writeFile(f.www("Quorandel1.png"), pattern(1000, 8)));
    QCOMPARE(::rename(f.www("Quorandel1.png").constData(), f.www("Quorandel.png").constData()), 0);
    QVERIFY(c.received.size() < old.size());  // the rename came while it streamed
    QVERIFY(c.waitClosed());
    QCOMPARE(c.received, ok("image/png", old));
}

void TstWebServer::fileThatCannotBeServed_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("all file numbers in use") << QByteArray("ten.txt") << QByteArray("(1) Error 67 - Too many files");
    QTest::newRow("unreadable") << QByteArray("locked.txt") << QByteArray("(1) Error 75 - Path/File access error");
    QTest::newRow("2 GiB") << QByteArray("huge.bin") << QByteArray("(1) Error 6 - Overflow");
}

void TstWebServer::fileThatCannotBeServed()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, error);
    Fixture f;
    f.settings.LogE = true;
    QVERIFY(f.openLog());
    QVERIFY(writeFile(f.www("ten.txt"), pattern(10000, 1)));
    f.tree.add("www/huge.bin=2147483600");
    QVERIFY(writeFile(f.www("locked.txt"), "locked"));
    QVERIFY(::chmod(f.www("locked.txt").constData(), 0) == 0);
    if (name == "locked.txt" && ::access(f.www("locked.txt").constData(), R_OK) == 0)
        QSKIP("this user reads any file");
    if (name == "ten.txt") {
        for (int n = FileNumbers::First; n <= FileNumbers::Last; ++n)
            QVERIFY(f.files.open(n, QStringLiteral("/dev/null"), QIODevice::ReadOnly));
    }
    QVERIFY(f.server.startListening());
    QCOMPARE(f.fetch("GET /" + name + " HTTP/1.0\n"), NotFound);
    QVERIFY2(f.logLines().first().endsWith(": " + error + '\r'), f.logLines().first().constData());
    QCOMPARE(f.status.history.value(1), (QStringList{"Listening", "Closed"}));
}

QTEST_GUILESS_MAIN(TstWebServer)
#include "tst_webserver.moc"
