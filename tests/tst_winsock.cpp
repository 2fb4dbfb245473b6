// SPDX-License-Identifier: GPL-3.0-or-later
// Ports are chosen by the OS and all traffic stays on 127.0.0.1. UDP is
// checked through its user, tst_timebroadcast.

#include "Fixtures.h"

#include "net/Winsock.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

uint descriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).count();
}

// A listener and a socket that accepted a plain socket's connection.
struct Pair
{
    Winsock listener;
    Winsock accepted;
    QTcpSocket peer;
    QByteArray peerGot;
    Winsock *socket = &accepted;

    bool open()
    {
        listener.listen();
        QSignalSpy requests(&listener, &Winsock::connectionRequested);
        peer.connectToHost(kLoopback, listener.localPort());
        if (!peer.waitForConnected(kWait) || !requests.wait(kWait))
            return false;
        QObject::connect(&peer, &QIODevice::readyRead, &peer, [this] { peerGot += peer.readAll(); });
        listener.acceptInto(requests.first().first().value<qintptr>(), *socket);
        return socket->state() == Winsock::Connected;
    }
};

} // namespace

class TstWinsock : public QObject
{
    Q_OBJECT
private slots:
    // A listener hands a request to a closed socket. The request's data may
    // come before the accept. The client connects as the display push does.
    void connectAcceptAndEvents()
    {
        Winsock listener, slotSocket, *slot = &slotSocket, unused;
        listener.listen();
        QCOMPARE(listener.state(), int(Winsock::Listening));
        QCOMPARE(QHostAddress(listener.localIP()).protocol(), QAbstractSocket::IPv4Protocol);
        QSignalSpy requests(&listener, &Winsock::connectionRequested);
        QSignalSpy arrivals(slot, &Winsock::dataArrived);
        QSignalSpy completions(slot, &Winsock::sendCompleted);
        QSignalSpy closes(slot, &Winsock::peerClosed);
        QSignalSpy errors(&unused, &Winsock::errorOccurred);
        Winsock clientSocket, *client = &clientSocket;
        client->setRemoteHost(kLoopback);
        client->setRemotePort(listener.localPort());
        client->connectToRemote();
        QVERIFY(client->state() == Winsock::ResolvingHost || client->state() == Winsock::Connecting
                || client->state() == Winsock::Connected);
        QCOMPARE(requests.count(), 0); // only ever from the event loop
        QTRY_VERIFY_WITH_TIMEOUT(requests.count() == 1 && client->state() == Winsock::Connected, kWait);
        client->sendInt16(1000);

        QCOMPARE(slot->state(), int(Winsock::Closed));
        listener.acceptInto(requests.first().at(0).value<qintptr>(), *slot);
        QCOMPARE(slot->state(), int(Winsock::Connected));
        QCOMPARE(listener.state(), int(Winsock::Listening));
        QCOMPARE((QStringList{slot->remoteHostIP(), client->remoteHostIP(), slot->localIP()}), QStringList(3, kLoopback));
        QTRY_VERIFY_WITH_TIMEOUT(!arrivals.isEmpty() && arrivals.last().at(0).toLongLong() == 2, kWait);
        QCOMPARE(slot->getData(), QByteArray("\xE8\x03"));  // little-endian, as the display reads it
        QCOMPARE(slot->getData(), QByteArray()); // reading consumed it

        QSignalSpy clientArrivals(client, &Winsock::dataArrived);
        slot->sendData("x\xE9\x80");
        QTRY_VERIFY_WITH_TIMEOUT(completions.count() == 1 && clientArrivals.count() == 1, kWait);
        QCOMPARE(client->getData(), QByteArray("x\xE9\x80"));
        client->close();
        unused.sendData("x");  // not connected: an error, told from the event loop
        QTRY_VERIFY_WITH_TIMEOUT(closes.count() == 1 && errors.count() == 1, kWait);
        QCOMPARE(errors.first().first().toInt(), int(Winsock::BadState));
    }

    void sendProgressAndCompletion_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces");
        QTest::newRow("4 MiB") << 4 * 1024 * 1024 << 1;
        QTest::newRow("three sends back to back") << 150000 << 3;
    }

    void sendProgressAndCompletion()
    {
        QFETCH(int, size);
        QFETCH(int, pieces);
        Pair p;
        QVERIFY(p.open());
        QSignalSpy progress(p.socket, &Winsock::sendProgressed);
        QSignalSpy completions(p.socket, &Winsock::sendCompleted);
        qsizetype progressAtCompletion = -1;
        connect(p.socket, &Winsock::sendCompleted, this, [&] { progressAtCompletion = progress.count(); });
        const QByteArray data = pattern(size);
        for (int i = 0, piece = size / pieces; i < pieces; ++i)
            p.socket->sendData(data.mid(i * piece, i == pieces - 1 ? -1 : piece));
        QCOMPARE(progress.count() + completions.count(), 0); // never inside the call
        QTRY_COMPARE_WITH_TIMEOUT(p.peerGot.size(), size, kWait);
        QVERIFY(p.peerGot == data);
        QTRY_COMPARE_WITH_TIMEOUT(completions.count(), 1, kWait);
        QTest::qWait(50);
        QCOMPARE(completions.count(), 1);
        QCOMPARE(progressAtCompletion, progress.count());
        qint64 sum = 0;
        for (const QList<QVariant> &event : progress)
            sum += event.at(0).toLongLong();
        QCOMPARE(sum, qint64(size));
        QCOMPARE(progress.last().at(1).toLongLong(), qint64(0));
    }

    // The web server closes right after its last send: nothing more of that
    // send may be told, yet the browser must get every byte.
    void closeIsImmediateQuietAndDelivers()
    {
        Pair p;
        QVERIFY(p.open());
        QSignalSpy progress(p.socket, &Winsock::sendProgressed);
        QSignalSpy completions(p.socket, &Winsock::sendCompleted);
        QSignalSpy peerGone(&p.peer, &QAbstractSocket::disconnected);
        const QByteArray data = pattern(1000000);
        p.socket->sendData(data);
        p.socket->close();
        QCOMPARE(p.socket->state(), int(Winsock::Closed));
        QTRY_COMPARE_WITH_TIMEOUT(p.peerGot.size(), data.size(), kWait);
        QVERIFY(p.peerGot == data);
        QTRY_COMPARE_WITH_TIMEOUT(peerGone.count(), 1, kWait);
        QCOMPARE(progress.count() + completions.count(), 0);
    }

    // After the close, what the peer still sends is read and dropped so that
    // no reset cuts the answer short, but only so much and so long: a peer
    // that sends on, or never closes its side, cannot keep the connection.
    void lingerIsBounded_data()
    {
        QTest::addColumn<bool>("sendsOn");
        QTest::newRow("peer sends on") << true;
        QTest::newRow("peer silent, never closes") << false;
    }
    void lingerIsBounded()
    {
        QFETCH(bool, sendsOn);
        Winsock listener, accepted, *socket = &accepted;
        listener.listen();
        QSignalSpy requests(&listener, &Winsock::connectionRequested);
        const int peer = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(listener.localPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(peer, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        QVERIFY(requests.wait(kWait));
        listener.acceptInto(requests.first().first().value<qintptr>(), *socket);
        const uint open = descriptors();
        socket->sendData("answer");
        socket->close();
        ::fcntl(peer, F_SETFL, O_NONBLOCK);
        qint64 sent = 0;
        QTimer flood;
        connect(&flood, &QTimer::timeout, this, [&] {
            const QByteArray block = pattern(4096);
            const ssize_t n = ::send(peer, block.constData(), size_t(block.size()), MSG_NOSIGNAL);
            sent += n > 0 ? n : 0;
        });
        if (sendsOn)
            flood.start(1);
        QTRY_COMPARE_WITH_TIMEOUT(descriptors(), open - 1, kWait);  // this side is gone
        char got[16] = {};
        QCOMPARE(::recv(peer, got, sizeof got, 0), ssize_t(6));
        QCOMPARE(QByteArray(got), QByteArray("answer"));
        if (sendsOn)
            QVERIFY2(sent < 4 * 1024 * 1024, qPrintable(QString::number(sent)));
        ::close(peer);
    }

    void peerCloseIsNoError_data()
    {
        QTest::addColumn<QByteArray>("lastWords");
        QTest::addColumn<bool>("reset");
        QTest::newRow("orderly close after data") << QByteArray("bye") << false;
        QTest::newRow("reset") << QByteArray() << true;
    }

    void peerCloseIsNoError()
    {
        QFETCH(QByteArray, lastWords);
        QFETCH(bool, reset);
        Pair p;
        QVERIFY(p.open());
        QSignalSpy closes(p.socket, &Winsock::peerClosed);
        QSignalSpy errors(p.socket, &Winsock::errorOccurred);
        QSignalSpy arrivals(p.socket, &Winsock::dataArrived);
        qsizetype arrivalsAtClose = -1;
        connect(p.socket, &Winsock::peerClosed, this, [&] { arrivalsAtClose = arrivals.count(); });
        p.peer.write(lastWords);
        p.peer.flush();
        const linger hard{1, 0};
        if (reset)
            QCOMPARE(::setsockopt(int(p.peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        reset ? p.peer.abort() : p.peer.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(closes.count(), 1, kWait);
        QCOMPARE(arrivalsAtClose, lastWords.isEmpty() ? 0 : 1);
        QCOMPARE(p.socket->getData(), lastWords);
        QCOMPARE(p.socket->remoteHostIP(), kLoopback);
        p.socket->sendData("into the void"); // dropped: the peer has gone
        QTest::qWait(100);
        QCOMPARE(closes.count(), 1);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(p.socket->state(), int(Winsock::Closing)); // until the program closes it
    }

    // A peer that sends without end cannot make the program hold more than the
    // bound: unread data waits at the peer, discarded data is dropped, and a
    // reader still gets every byte in order.
    void receivingIsBounded_data()
    {
        QTest::addColumn<QString>("reader");
        QTest::newRow("nobody reads") << "none";
        QTest::newRow("discarded") << "discard";
        QTest::newRow("read on every arrival") << "read";
    }
    void receivingIsBounded()
    {
        QFETCH(QString, reader);
        Pair p;
        QVERIFY(p.open());
        QSignalSpy arrivals(p.socket, &Winsock::dataArrived);
        QByteArray got;
        p.socket->setDiscardReceived(reader == "discard");
        if (reader == "read")
            connect(p.socket, &Winsock::dataArrived, this, [&] { got += p.socket->getData(); });
        const QByteArray flood = pattern(8 * 1024 * 1024);
        p.peer.write(flood);
        if (reader == "read") {
            QTRY_COMPARE_WITH_TIMEOUT(got.size(), flood.size(), kWait);
            QVERIFY(got == flood);
            return;
        }
        QTest::qWait(500);
        QVERIFY2(p.peer.bytesToWrite() > 0 || reader == "discard", "the peer was never held back");
        QVERIFY(p.socket->unreadBytes() <= Winsock::MaxUnreadBytes);
        QVERIFY(reader == "none" ? !arrivals.isEmpty() : arrivals.isEmpty());
        if (reader == "discard")
            QTRY_COMPARE_WITH_TIMEOUT(p.peer.bytesToWrite(), qint64(0), kWait);
        QCOMPARE(p.socket->unreadBytes(), reader == "none" ? Winsock::MaxUnreadBytes : 0);
    }

    // The user learns that the web server's port is taken; the error comes
    // from the event loop, never from inside the call.
    void listenOnPortInUseFailsLater()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::AnyIPv4, 0));
        Winsock w;
        QSignalSpy errors(&w, &Winsock::errorOccurred);
        w.setLocalPort(taken.serverPort());
        w.listen();
        QCOMPARE(errors.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, kWait);
        QCOMPARE(errors.first().first().toInt(), int(Winsock::AddressInUse));
        QCOMPARE(w.state(), int(Winsock::Error));
    }

    void requestNotTakenIsClosed_data()
    {
        QTest::addColumn<bool>("reject");
        QTest::newRow("rejected") << true;
        QTest::newRow("listener closed") << false;
    }

    // The browser is not left waiting, and no descriptor is left behind.
    void requestNotTakenIsClosed()
    {
        QFETCH(bool, reject);
        const uint before = descriptors();
        {
            Winsock listener;
            listener.listen();
            QTcpSocket peer;
            QSignalSpy requests(&listener, &Winsock::connectionRequested);
            QSignalSpy gone(&peer, &QAbstractSocket::disconnected);
            peer.connectToHost(kLoopback, listener.localPort());
            QVERIFY(peer.waitForConnected(kWait) && requests.wait(kWait));
            reject ? listener.rejectRequest(requests.first().first().value<qintptr>()) : listener.close();
            QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, kWait);
            QCOMPARE(listener.state(), int(reject ? Winsock::Listening : Winsock::Closed));
        }
        QTRY_COMPARE_WITH_TIMEOUT(descriptors(), before, kWait);
    }
};

QTEST_GUILESS_MAIN(TstWinsock)
#include "tst_winsock.moc"
