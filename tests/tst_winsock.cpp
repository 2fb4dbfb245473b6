// The socket class on loopback: listen, accept by request
// identifier, data, sends with progress and completion, peer close, errors,
// UDP datagrams and the control array. Every port is chosen by the OS; only the
// broadcast case leaves 127.0.0.1, and only inside the namespace of ./test.sh.

#include "net/Winsock.h"
#include "net/WinsockArray.h"
#include "PrivateNetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <sys/socket.h>

namespace {

const int kWait = 5000;
const QString kLoopback = QStringLiteral("127.0.0.1");

// A listener (element 0) and the connection it accepted (element 1) with a
// Winsock client at the other end.
struct Connection
{
    WinsockArray server;
    Winsock client;

    Winsock *listener() { return server.element(0); }
    Winsock *accepted() { return server.element(1); }

    bool open()
    {
        listener()->setLocalPort(0);
        listener()->listen();
        if (listener()->state() != Winsock::Listening)
            return false;
        QSignalSpy requests(listener(), &Winsock::connectionRequested);
        client.setRemoteHost(kLoopback);
        client.setRemotePort(listener()->localPort());
        client.connectToRemote();
        if (!requests.wait(kWait))
            return false;
        Winsock *socket = server.load(1);
        socket->accept(requests.first().first().value<qintptr>());
        return QTest::qWaitFor([&] {
            return socket->state() == Winsock::Connected && client.state() == Winsock::Connected;
        }, kWait);
    }
};

// Collects everything a Winsock receives, as its data-arrival handler would.
struct Receiver
{
    QByteArray bytes;
    explicit Receiver(Winsock *socket)
    {
        QObject::connect(socket, &Winsock::dataArrived, socket,
                         [this, socket](qint64) { bytes += socket->getData(); });
    }
};

QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    return data;
}

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(kLoopback), 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

bool isDottedIPv4(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return re.match(text).hasMatch();
}

} // namespace

class TstWinsock : public QObject
{
    Q_OBJECT
private slots:
    void listenGivesListeningAtOnce();
    void acceptByIdConnectsBothEnds();
    void dataArrivesAndGetDataConsumes_data();
    void dataArrivesAndGetDataConsumes();
    void sendProgressAndCompletion_data();
    void sendProgressAndCompletion();
    void peerCloseIsCloseNotError_data();
    void peerCloseIsCloseNotError();
    void closeIsImmediateQuietAndDeliversQueuedData();
    void listenOnPortInUseFails();
    void operationsInWrongStateReportErrors_data();
    void operationsInWrongStateReportErrors();
    void rejectRequestClosesClient();
    void unansweredRequestClosesWithListener();
    void connectToClosedPortFails();
    void sendInt16LowByteFirst_data();
    void sendInt16LowByteFirst();
    void textIsOneBytePerCharacter();
    void udpDatagramArrivesWhole_data();
    void udpDatagramArrivesWhole();
    void udpFailingSendIsSilent_data();
    void udpFailingSendIsSilent();
    void udpBurstDoesNotBlock();
    void udpBroadcast();
    void arrayLoadCopiesProperties();
    void arraySignalsCarryIndex();
};

void TstWinsock::listenGivesListeningAtOnce()
{
    Winsock w;
    QCOMPARE(w.state(), int(Winsock::Closed));
    QCOMPARE(w.protocol(), Winsock::TCP);
    QSignalSpy errors(&w, &Winsock::errorOccurred);
    w.setLocalPort(0);
    w.listen();
    QCOMPARE(w.state(), int(Winsock::Listening));
    QVERIFY(w.localPort() != 0);
    QVERIFY2(isDottedIPv4(w.localIP()), qPrintable(w.localIP()));
    QTest::qWait(50);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(w.state(), int(Winsock::Listening));
    const quint16 port = w.localPort();
    w.close();
    QCOMPARE(w.state(), int(Winsock::Closed));
    QCOMPARE(w.localPort(), quint16(0)); // the configured value again
    // The port is free again.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, port));
}

void TstWinsock::acceptByIdConnectsBothEnds()
{
    WinsockArray server;
    Winsock *listener = server.element(0);
    listener->listen();
    QCOMPARE(listener->state(), int(Winsock::Listening));

    Winsock client;
    QSignalSpy clientConnected(&client, &Winsock::connected);
    QSignalSpy requests(listener, &Winsock::connectionRequested);
    client.setRemoteHost(kLoopback);
    client.setRemotePort(listener->localPort());
    client.connectToRemote();
    const int early = client.state();
    QVERIFY2(early == Winsock::ResolvingHost || early == Winsock::Connecting || early == Winsock::Connected,
             qPrintable(QString::number(early)));
    QCOMPARE(requests.count(), 0); // events come through the event loop only

    QVERIFY(requests.wait(kWait));
    QCOMPARE(requests.count(), 1);
    const qintptr id = requests.first().first().value<qintptr>();
    Winsock *socket = server.load(1);
    QCOMPARE(socket->state(), int(Winsock::Closed));
    socket->accept(id);
    QCOMPARE(socket->state(), int(Winsock::Connected));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), int(Winsock::Connected), kWait);
    QCOMPARE(clientConnected.count(), 1);

    QCOMPARE(socket->remoteHostIP(), kLoopback);
    QCOMPARE(client.remoteHostIP(), kLoopback);
    QCOMPARE(socket->localIP(), kLoopback);
    QCOMPARE(client.localIP(), kLoopback);
    QCOMPARE(socket->localPort(), listener->localPort());
    QVERIFY(client.localPort() != 0);
    QCOMPARE(listener->state(), int(Winsock::Listening)); // it keeps listening

    socket->close();
    client.close();
    listener->close();
    QCOMPARE(socket->state(), int(Winsock::Closed));
    QCOMPARE(socket->remoteHostIP(), QString());
}

void TstWinsock::dataArrivesAndGetDataConsumes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("beforeAccept");
    QTest::newRow("request line") << QByteArray("GET / HTTP/1.0\n\n") << false;
    QTest::newRow("binary with zero bytes") << QByteArray("\x00\xff\x01\x80\x00", 5) << false;
    QTest::newRow("sent before the accept") << QByteArray("early bird") << true;
}

void TstWinsock::dataArrivesAndGetDataConsumes()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, beforeAccept);
    WinsockArray server;
    Winsock *listener = server.element(0);
    listener->listen();
    QTcpSocket peer;
    QSignalSpy requests(listener, &Winsock::connectionRequested);
    peer.connectToHost(kLoopback, listener->localPort());
    QVERIFY(peer.waitForConnected(kWait));
    if (beforeAccept) {
        peer.write(data);
        QVERIFY(peer.waitForBytesWritten(kWait));
    }
    QVERIFY(requests.wait(kWait));
    Winsock *socket = server.load(1);
    QSignalSpy arrivals(socket, &Winsock::dataArrived);
    socket->accept(requests.first().first().value<qintptr>());
    if (!beforeAccept)
        peer.write(data);
    QTRY_VERIFY_WITH_TIMEOUT(arrivals.count() >= 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(arrivals.last().first().toLongLong(), qint64(data.size()), kWait);
    QCOMPARE(socket->getData(), data);
    QCOMPARE(socket->getData(), QByteArray()); // consumed
    QTest::qWait(50);
    QCOMPARE(socket->getData(), QByteArray());
}

void TstWinsock::sendProgressAndCompletion_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("pieces");
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("one chunk of 8192") << 8192 << 1;
    QTest::newRow("100000 bytes") << 100000 << 1;
    QTest::newRow("4 MiB") << 4 * 1024 * 1024 << 1;
    QTest::newRow("three sends queued back to back") << 150000 << 3;
}

void TstWinsock::sendProgressAndCompletion()
{
    QFETCH(int, size);
    QFETCH(int, pieces);
    Connection c;
    QVERIFY(c.open());
    Winsock *sender = c.accepted();
    Receiver received(&c.client);

    bool inSend = false;
    bool eventInsideSend = false;
    bool progressAfterCompletion = false;
    qint64 sum = 0;
    qint64 lastRemaining = -1;
    int progressCount = 0;
    int completions = 0;
    connect(sender, &Winsock::sendProgressed, this, [&](qint64 sent, qint64 remaining) {
        eventInsideSend |= inSend;
        progressAfterCompletion |= completions > 0;
        sum += sent;
        lastRemaining = remaining;
        ++progressCount;
    });
    connect(sender, &Winsock::sendCompleted, this, [&] {
        eventInsideSend |= inSend;
        ++completions;
    });

    const QByteArray data = pattern(size);
    const int piece = size / pieces;
    inSend = true;
    for (int i = 0; i < pieces; ++i)
        sender->sendData(data.mid(i * piece, i == pieces - 1 ? -1 : piece));
    inSend = false;
    QCOMPARE(progressCount, 0);
    QCOMPARE(completions, 0);

    QTRY_COMPARE_WITH_TIMEOUT(completions, 1, kWait * 2);
    QTRY_COMPARE_WITH_TIMEOUT(received.bytes.size(), size, kWait * 2);
    QTest::qWait(100);
    QCOMPARE(completions, 1);
    QVERIFY(!eventInsideSend);
    QVERIFY(!progressAfterCompletion);
    QCOMPARE(sum, qint64(size));
    QCOMPARE(lastRemaining, qint64(0));
    QVERIFY(progressCount >= 1);
    QVERIFY(received.bytes == data); // byte order kept across queued sends
    QCOMPARE(sender->state(), int(Winsock::Connected));
}

void TstWinsock::peerCloseIsCloseNotError_data()
{
    QTest::addColumn<QByteArray>("lastWords");
    QTest::addColumn<bool>("reset");
    QTest::newRow("orderly close") << QByteArray() << false;
    QTest::newRow("orderly close after data") << QByteArray("bye") << false;
    QTest::newRow("reset") << QByteArray() << true;
}

void TstWinsock::peerCloseIsCloseNotError()
{
    QFETCH(QByteArray, lastWords);
    QFETCH(bool, reset);
    WinsockArray server;
    Winsock *listener = server.element(0);
    listener->listen();
    QTcpSocket peer;
    QSignalSpy requests(listener, &Winsock::connectionRequested);
    peer.connectToHost(kLoopback, listener->localPort());
    QVERIFY(peer.waitForConnected(kWait));
    QVERIFY(requests.wait(kWait));
    Winsock *socket = server.load(1);
    socket->accept(requests.first().first().value<qintptr>());
    QCOMPARE(socket->state(), int(Winsock::Connected));

    QSignalSpy closes(socket, &Winsock::peerClosed);
    QSignalSpy errors(socket, &Winsock::errorOccurred);
    QSignalSpy arrivals(socket, &Winsock::dataArrived);
    if (!lastWords.isEmpty()) {
        peer.write(lastWords);
        QVERIFY(peer.waitForBytesWritten(kWait));
    }
    if (reset) {
        const linger hard{1, 0};
        QCOMPARE(::setsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        peer.abort();
    } else {
        peer.disconnectFromHost();
    }
    QTRY_COMPARE_WITH_TIMEOUT(closes.count(), 1, kWait);
    QCOMPARE(socket->state(), int(Winsock::Closing));
    if (!lastWords.isEmpty())
        QCOMPARE(arrivals.count(), 1); // the data is told before the close
    QCOMPARE(socket->getData(), lastWords);
    QCOMPARE(socket->remoteHostIP(), kLoopback);
    QTest::qWait(100);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(closes.count(), 1);
    QCOMPARE(socket->state(), int(Winsock::Closing)); // until the program closes it

    socket->sendData("into the void"); // dropped: the peer has gone
    QTest::qWait(50);
    QCOMPARE(errors.count(), 0);

    socket->close();
    QCOMPARE(socket->state(), int(Winsock::Closed));
    QTest::qWait(50);
    QCOMPARE(closes.count(), 1);
    QCOMPARE(errors.count(), 0);
}

// close() right after a send: the state is 0 at once, no event of that send
// follows, and the peer still gets every byte before the connection ends.
void TstWinsock::closeIsImmediateQuietAndDeliversQueuedData()
{
    Connection c;
    QVERIFY(c.open());
    Winsock *sender = c.accepted();
    Receiver received(&c.client);
    QSignalSpy progress(sender, &Winsock::sendProgressed);
    QSignalSpy completions(sender, &Winsock::sendCompleted);
    QSignalSpy errors(sender, &Winsock::errorOccurred);
    QSignalSpy clientCloses(&c.client, &Winsock::peerClosed);
    const QByteArray data = pattern(1000000, 3);
    sender->sendData(data);
    sender->close();
    QCOMPARE(sender->state(), int(Winsock::Closed));
    QTRY_COMPARE_WITH_TIMEOUT(clientCloses.count(), 1, kWait * 2);
    QCOMPARE(received.bytes.size(), data.size());
    QVERIFY(received.bytes == data);
    QCOMPARE(progress.count(), 0);
    QCOMPARE(completions.count(), 0);
    QCOMPARE(errors.count(), 0);

    // The closed element takes the next connection.
    QSignalSpy requests(c.listener(), &Winsock::connectionRequested);
    Winsock second;
    second.setRemoteHost(kLoopback);
    second.setRemotePort(c.listener()->localPort());
    second.connectToRemote();
    QVERIFY(requests.wait(kWait));
    sender->accept(requests.first().first().value<qintptr>());
    QCOMPARE(sender->state(), int(Winsock::Connected));
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), int(Winsock::Connected), kWait);
}

void TstWinsock::listenOnPortInUseFails()
{
    Winsock first;
    first.listen();
    QCOMPARE(first.state(), int(Winsock::Listening));

    Winsock second;
    QSignalSpy errors(&second, &Winsock::errorOccurred);
    second.setLocalPort(first.localPort());
    second.listen();
    QCOMPARE(second.state(), int(Winsock::Error));
    QCOMPARE(errors.count(), 0); // not inside the call
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    QCOMPARE(errors.first().at(0).toInt(), int(Winsock::AddressInUse));
    QVERIFY(!errors.first().at(1).toString().isEmpty());
    QCOMPARE(first.state(), int(Winsock::Listening));

    second.close();
    QCOMPARE(second.state(), int(Winsock::Closed));
    second.setLocalPort(0);
    second.listen();
    QCOMPARE(second.state(), int(Winsock::Listening));
}

void TstWinsock::operationsInWrongStateReportErrors_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("stateAfter");
    QTest::newRow("listen while listening") << "listen twice" << int(Winsock::InvalidOp) << int(Winsock::Listening);
    QTest::newRow("connect while listening") << "connect on listener" << int(Winsock::InvalidOp)
                                             << int(Winsock::Listening);
    QTest::newRow("send on a listener") << "send on listener" << int(Winsock::BadState) << int(Winsock::Listening);
    QTest::newRow("send while closed") << "send closed" << int(Winsock::BadState) << int(Winsock::Closed);
    QTest::newRow("listen on UDP") << "listen udp" << int(Winsock::WrongProtocol) << int(Winsock::Closed);
    QTest::newRow("accept an unknown request") << "accept unknown" << int(Winsock::InvalidArgument)
                                               << int(Winsock::Error);
}

void TstWinsock::operationsInWrongStateReportErrors()
{
    QFETCH(QString, operation);
    QFETCH(int, number);
    QFETCH(int, stateAfter);
    Winsock w;
    QSignalSpy errors(&w, &Winsock::errorOccurred);
    if (operation == "listen twice") {
        w.listen();
        w.listen();
    } else if (operation == "connect on listener") {
        w.listen();
        w.setRemoteHost(kLoopback);
        w.setRemotePort(w.localPort());
        w.connectToRemote();
    } else if (operation == "send on listener") {
        w.listen();
        w.sendData("x");
    } else if (operation == "send closed") {
        w.sendData("x");
    } else if (operation == "listen udp") {
        w.setProtocol(Winsock::UDP);
        w.listen();
    } else if (operation == "accept unknown") {
        w.accept(987654);
    }
    QCOMPARE(errors.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    QCOMPARE(errors.first().at(0).toInt(), number);
    QCOMPARE(w.state(), stateAfter);
    w.close();
    QCOMPARE(w.state(), int(Winsock::Closed));
}

void TstWinsock::rejectRequestClosesClient()
{
    Winsock listener;
    listener.listen();
    QTcpSocket peer;
    QSignalSpy requests(&listener, &Winsock::connectionRequested);
    QSignalSpy peerGone(&peer, &QAbstractSocket::disconnected);
    peer.connectToHost(kLoopback, listener.localPort());
    QVERIFY(peer.waitForConnected(kWait));
    QVERIFY(requests.wait(kWait));
    const qintptr id = requests.first().first().value<qintptr>();
    listener.rejectRequest(id);
    QTRY_COMPARE_WITH_TIMEOUT(peerGone.count(), 1, kWait);
    QCOMPARE(listener.state(), int(Winsock::Listening));

    listener.rejectRequest(id); // twice is harmless
    Winsock late;
    QSignalSpy errors(&late, &Winsock::errorOccurred);
    late.accept(id); // gone: it can no longer be accepted
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    QCOMPARE(late.state(), int(Winsock::Error));
}

void TstWinsock::unansweredRequestClosesWithListener()
{
    const int descriptorsBefore = openDescriptors();
    auto *listener = new Winsock;
    listener->listen();
    QTcpSocket first, second;
    QSignalSpy requests(listener, &Winsock::connectionRequested);
    QSignalSpy firstGone(&first, &QAbstractSocket::disconnected);
    QSignalSpy secondGone(&second, &QAbstractSocket::disconnected);
    first.connectToHost(kLoopback, listener->localPort());
    QVERIFY(first.waitForConnected(kWait));
    QTRY_COMPARE_WITH_TIMEOUT(requests.count(), 1, kWait);
    listener->close();
    QCOMPARE(listener->state(), int(Winsock::Closed));
    QTRY_COMPARE_WITH_TIMEOUT(firstGone.count(), 1, kWait);

    // Destroying a listener releases its unanswered requests as well.
    listener->listen();
    second.connectToHost(kLoopback, listener->localPort());
    QVERIFY(second.waitForConnected(kWait));
    QTRY_COMPARE_WITH_TIMEOUT(requests.count(), 2, kWait);
    delete listener;
    QTRY_COMPARE_WITH_TIMEOUT(secondGone.count(), 1, kWait);

    first.close();
    second.close();
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore, kWait);
}

void TstWinsock::connectToClosedPortFails()
{
    Winsock client;
    QSignalSpy errors(&client, &Winsock::errorOccurred);
    QSignalSpy connects(&client, &Winsock::connected);
    client.setRemoteHost(kLoopback);
    client.setRemotePort(unusedPort());
    client.connectToRemote();
    QVERIFY(client.state() != Winsock::Connected);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    QCOMPARE(errors.first().at(0).toInt(), int(Winsock::ConnectionRefused));
    QCOMPARE(client.state(), int(Winsock::Error));
    QCOMPARE(connects.count(), 0);

    // As the display push does: close and try again, now with someone there.
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress(kLoopback), 0));
    client.close();
    QCOMPARE(client.state(), int(Winsock::Closed));
    client.setRemotePort(device.serverPort());
    client.connectToRemote();
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), int(Winsock::Connected), kWait);
    QCOMPARE(errors.count(), 1);
}

void TstWinsock::sendInt16LowByteFirst_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("1000") << 1000 << QByteArray("\xE8\x03", 2);
    QTest::newRow("0") << 0 << QByteArray("\x00\x00", 2);
    QTest::newRow("-1") << -1 << QByteArray("\xFF\xFF", 2);
    QTest::newRow("0x1234") << 0x1234 << QByteArray("\x34\x12", 2);
    QTest::newRow("-32768") << -32768 << QByteArray("\x00\x80", 2);
}

void TstWinsock::sendInt16LowByteFirst()
{
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    Connection c;
    QVERIFY(c.open());
    Receiver received(c.accepted());
    c.client.sendInt16(qint16(value));
    c.client.sendInt16(qint16(value));
    QTRY_COMPARE_WITH_TIMEOUT(received.bytes.size(), 4, kWait);
    QCOMPARE(received.bytes, bytes + bytes);
}

void TstWinsock::textIsOneBytePerCharacter()
{
    Connection c;
    QVERIFY(c.open());
    Receiver received(c.accepted());
    c.client.sendText(QStringLiteral("Gr\u00FC\u00DFe \u20AC"));
    QTRY_COMPARE_WITH_TIMEOUT(received.bytes.size(), 7, kWait);
    QCOMPARE(received.bytes, QByteArray("Gr\xFC\xDF" "e ?"));

    received.bytes.clear();

    // Received bytes read as text: one character per byte.
    QSignalSpy arrivals(&c.client, &Winsock::dataArrived);
    c.accepted()->sendData("x\xE9\x80");
    QVERIFY(arrivals.wait(kWait));
    QCOMPARE(c.client.getText(), QStringLiteral("x\u00E9\u0080"));
}

void TstWinsock::udpDatagramArrivesWhole_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("stop mark") << QByteArray("0");
    QTest::newRow("time") << QByteArray("2359");
    QTest::newRow("binary with zero bytes") << QByteArray("\x00\xE8\x03\x00\xFF", 5);
    QTest::newRow("1400 bytes") << pattern(1400, 5);
}

void TstWinsock::udpDatagramArrivesWhole()
{
    QFETCH(QByteArray, payload);
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(kLoopback), 0));
    Winsock w;
    QSignalSpy errors(&w, &Winsock::errorOccurred);
    w.setProtocol(Winsock::UDP);
    w.setRemoteHost(kLoopback);
    w.setRemotePort(receiver.localPort());
    for (int i = 0; i < 3; ++i)
        w.sendData(payload);
    QCOMPARE(w.state(), int(Winsock::Open));
    QVERIFY(w.localPort() != 0);
    QVERIFY(w.localPort() != receiver.localPort());

    QList<QByteArray> datagrams;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            while (receiver.hasPendingDatagrams()) {
                QByteArray d(int(receiver.pendingDatagramSize()), Qt::Uninitialized);
                QHostAddress from;
                quint16 fromPort = 0;
                d.resize(int(receiver.readDatagram(d.data(), d.size(), &from, &fromPort)));
                if (fromPort == w.localPort())
                    datagrams << d;
            }
            return datagrams.size() >= 3;
        }(),
        kWait);
    QCOMPARE(datagrams.size(), 3);
    for (const QByteArray &d : datagrams)
        QVERIFY(d == payload);
    QCOMPARE(errors.count(), 0);
    w.close();
    QCOMPARE(w.state(), int(Winsock::Closed));
}

void TstWinsock::udpFailingSendIsSilent_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("size");
    QTest::newRow("host not a dotted address") << "no.such.host.invalid" << 7791 << 1;
    QTest::newRow("empty host") << "" << 7791 << 1;
    QTest::newRow("port 0") << kLoopback << 0 << 1;
    QTest::newRow("datagram too large") << kLoopback << 7791 << 70000;
}

void TstWinsock::udpFailingSendIsSilent()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, size);
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(kLoopback), 0));
    Winsock w;
    QSignalSpy errors(&w, &Winsock::errorOccurred);
    w.setProtocol(Winsock::UDP);
    w.setRemoteHost(host);
    w.setRemotePort(quint16(port == 7791 ? receiver.localPort() : port));
    QElapsedTimer clock;
    clock.start();
    w.sendData(pattern(size));
    QVERIFY(clock.elapsed() < 1000);
    QTest::qWait(50);
    QCOMPARE(errors.count(), 0);
    QVERIFY(!receiver.hasPendingDatagrams());

    // The socket is still good for the next datagram.
    w.setRemoteHost(kLoopback);
    w.setRemotePort(receiver.localPort());
    w.sendData("ok");
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasPendingDatagrams(), kWait);
    QCOMPARE(receiver.receiveDatagram().data(), QByteArray("ok"));
    QCOMPARE(errors.count(), 0);
}

// The start-up burst: 1000 datagrams back to back, without a yield.
void TstWinsock::udpBurstDoesNotBlock()
{
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(kLoopback), 0));
    Winsock w;
    w.setProtocol(Winsock::UDP);
    w.setRemoteHost(kLoopback);
    w.setRemotePort(receiver.localPort());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 1000; ++i)
        w.sendData("0");
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    int count = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            while (receiver.hasPendingDatagrams()) {
                if (receiver.receiveDatagram().data() == "0")
                    ++count;
            }
            return count > 0;
        }(),
        kWait);
}

void TstWinsock::udpBroadcast()
{
    REQUIRE_PRIVATE_NETWORK();
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress));
    Winsock w;
    QSignalSpy errors(&w, &Winsock::errorOccurred);
    w.setProtocol(Winsock::UDP);
    w.setRemoteHost(QStringLiteral("255.255.255.255"));
    w.setRemotePort(receiver.localPort());
    w.sendData("0");
    QTRY_VERIFY_WITH_TIMEOUT(receiver.hasPendingDatagrams(), kWait);
    while (receiver.hasPendingDatagrams())
        QCOMPARE(receiver.receiveDatagram().data(), QByteArray("0"));
    QCOMPARE(errors.count(), 0);
}

void TstWinsock::arrayLoadCopiesProperties()
{
    WinsockArray udp;
    QCOMPARE(udp.ubound(), 0);
    QVERIFY(udp.element(0));
    QVERIFY(!udp.element(1));
    udp.element(0)->setProtocol(Winsock::UDP);
    udp.element(0)->setLocalPort(4321);
    udp.element(0)->setRemoteHost(QStringLiteral("255.255.255.255"));
    udp.element(0)->setRemotePort(7792);
    Winsock *one = udp.load(1);
    QVERIFY(one);
    QCOMPARE(udp.ubound(), 1);
    QCOMPARE(udp.element(1), one);
    QCOMPARE(one->protocol(), Winsock::UDP);
    QCOMPARE(one->localPort(), quint16(4321));
    QCOMPARE(one->remoteHost(), QStringLiteral("255.255.255.255"));
    QCOMPARE(one->remotePort(), quint16(7792));
    QCOMPARE(one->state(), int(Winsock::Closed));

    QVERIFY(!udp.load(1)); // in use
    QVERIFY(!udp.load(0));
    QVERIFY(!udp.load(-1));
    Winsock *four = udp.load(4);
    QVERIFY(four);
    QCOMPARE(udp.ubound(), 4);
    QVERIFY(!udp.element(2));
    QVERIFY(!udp.element(3));
    QVERIFY(!udp.element(5));
    QVERIFY(udp.load(2));
    QCOMPARE(udp.ubound(), 4);

    // A new element of a listening array is closed and does not listen.
    WinsockArray tcp;
    Winsock *listener = tcp.element(0);
    listener->listen();
    QSignalSpy errors(&tcp, &WinsockArray::errorOccurred);
    Winsock *slot = tcp.load(1);
    QCOMPARE(slot->protocol(), Winsock::TCP);
    QCOMPARE(slot->localPort(), listener->localPort());
    QCOMPARE(slot->state(), int(Winsock::Closed));
    QTest::qWait(50);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(listener->state(), int(Winsock::Listening));
}

void TstWinsock::arraySignalsCarryIndex()
{
    WinsockArray server;
    server.element(0)->listen();
    const quint16 port = server.element(0)->localPort();
    QSignalSpy requests(&server, &WinsockArray::connectionRequested);
    QSignalSpy arrivals(&server, &WinsockArray::dataArrived);
    QSignalSpy progress(&server, &WinsockArray::sendProgressed);
    QSignalSpy completions(&server, &WinsockArray::sendCompleted);
    QSignalSpy closes(&server, &WinsockArray::peerClosed);
    QSignalSpy errors(&server, &WinsockArray::errorOccurred);

    WinsockArray clients;
    QSignalSpy clientConnects(&clients, &WinsockArray::connected);
    Winsock *client = clients.load(2);
    client->setRemoteHost(kLoopback);
    client->setRemotePort(port);
    client->connectToRemote();
    QTRY_COMPARE_WITH_TIMEOUT(requests.count(), 1, kWait);
    QCOMPARE(requests.first().at(0).toInt(), 0);
    server.load(1);
    server.load(2);
    server.element(2)->accept(requests.first().at(1).value<qintptr>());
    QTRY_COMPARE_WITH_TIMEOUT(clientConnects.count(), 1, kWait);
    QCOMPARE(clientConnects.first().at(0).toInt(), 2);

    client->sendData("abc");
    QTRY_COMPARE_WITH_TIMEOUT(arrivals.count(), 1, kWait);
    QCOMPARE(arrivals.first().at(0).toInt(), 2);
    QCOMPARE(arrivals.first().at(1).toLongLong(), qint64(3));
    QCOMPARE(server.element(2)->getData(), QByteArray("abc"));

    server.element(2)->sendData("hello");
    QTRY_COMPARE_WITH_TIMEOUT(completions.count(), 1, kWait);
    QCOMPARE(completions.first().at(0).toInt(), 2);
    QVERIFY(progress.count() >= 1);
    qint64 sum = 0;
    for (const auto &p : progress) {
        QCOMPARE(p.at(0).toInt(), 2);
        sum += p.at(1).toLongLong();
    }
    QCOMPARE(sum, qint64(5));

    client->close();
    QTRY_COMPARE_WITH_TIMEOUT(closes.count(), 1, kWait);
    QCOMPARE(closes.first().at(0).toInt(), 2);

    server.element(1)->setLocalPort(port);
    server.element(1)->listen();
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
    QCOMPARE(errors.first().at(0).toInt(), 1);
    QCOMPARE(errors.first().at(1).toInt(), int(Winsock::AddressInUse));
}

QTEST_GUILESS_MAIN(TstWinsock)
#include "tst_winsock.moc"
