// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;
class WinsockServer;

// The program's one socket class: the contract of the
// platform's socket control, over Qt's QTcpServer, QTcpSocket and QUdpSocket.
// It knows nothing of the program: the web server, the time broadcast and the
// display push all use it.
//
// Events. Every signal is emitted from the event loop, never from inside a
// call into this class. What the socket itself reports (a connection waiting,
// data arrived, a block handed to the OS, the peer's close) is passed on as Qt
// reports it, so a handler may send, read or close right there. An error of a
// call (a failing listen(), a send in the wrong state) comes after the call
// has returned. Once close() has been called, no event of the connection it
// closed is delivered any more.
//
// TCP, server side: listen() on localPort (all IPv4 addresses). Each waiting
// connection raises connectionRequested(requestId); the request identifier is
// the accepted socket descriptor. The listener hands it to any closed Winsock
// with acceptInto(requestId, socket); rejectRequest(requestId) closes it
// instead. A request that nobody takes is closed when its listener closes (or
// is destroyed).
//
// TCP, client side: connectToRemote() starts connecting to remoteHost:remotePort
// and returns at once; the state moves on by itself (4 resolving, 6 connecting,
// then 7 connected or 9 error).
//
// Peer close: an orderly close by the peer, and also a reset by the peer, is
// peerClosed(), never errorOccurred(). The state then reads 8 (closing) until
// the program calls close(); data received before it can still be read.
//
// Sends (TCP): sendData() queues and returns at once. sendProgressed reports
// each block the OS accepted (bytes just sent, bytes still queued); the first
// numbers of all progress events add up exactly to the bytes queued. When
// everything queued has gone to the OS, sendCompleted() follows the last
// progress event (once for several sends queued back to back). A send on a
// connection whose peer has already closed (state 8) is dropped silently; on
// any other state but 7 it is an error (40006).
//
// UDP: each sendData() is one datagram to remoteHost:remotePort (dotted IPv4,
// the broadcast address 255.255.255.255 allowed) from localPort, or from a port
// the OS chooses when localPort is 0. It never blocks and never raises an event:
// a send that fails (no route, datagram too large, a host that is not a dotted
// address) is dropped silently. The socket reads 1 (open) once it is bound.
//
// Receiving (TCP): what the peer sends is held until the program reads it with
// getData(), but never more than MaxUnreadBytes: beyond that nothing more is
// taken from the peer until the program reads, so TCP's flow control makes the
// peer wait instead of this process growing. A connection whose data nobody
// wants can be told to discard it as it comes (setDiscardReceived).
//
// close() is immediate: the state reads 0 when it returns. The connection is
// then ended in the background the way LingeringClose describes, so that a
// peer still gets every byte queued for it; no event of it is delivered.
class Winsock : public QObject
{
    Q_OBJECT
public:
    enum Protocol { TCP = 0, UDP = 1 };
    // The platform's state codes. 3 and 5 are never reported here (Qt does not
    // go through them); 1 only for a bound UDP socket.
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9
    };
    // Numbers of errorOccurred(): the platform's socket control numbers.
    enum ErrorNumber {
        BadState = 40006,          // operation not valid in the current state
        InvalidOp = 40020,         // e.g. listen() on a socket that is not closed
        WrongProtocol = 40026,     // e.g. listen() on a UDP socket
        InvalidArgument = 10014,   // e.g. acceptInto() of an unknown request identifier
        AccessDenied = 10013,
        MsgTooBig = 10040,
        AddressInUse = 10048,
        AddressNotAvailable = 10049,
        NetworkDown = 10050,
        NetworkUnreachable = 10051,
        ConnectionReset = 10054,
        NoBufferSpace = 10055,
        TimedOut = 10060,
        ConnectionRefused = 10061,
        HostNotFound = 11001
    };
    Q_ENUM(Protocol)
    Q_ENUM(State)

    // The most a connection holds for the program before the peer is made to wait.
    static constexpr qint64 MaxUnreadBytes = 16 * 1024;

    explicit Winsock(QObject *parent = nullptr);
    ~Winsock() override;

    Protocol protocol() const { return m_protocol; }
    void setProtocol(Protocol protocol) { m_protocol = protocol; }
    // The configured port while closed; the port actually bound while
    // listening, connected or bound (so a listen on port 0 tells its port here).
    quint16 localPort() const;
    void setLocalPort(quint16 port) { m_localPort = port; }
    QString remoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString &host)
    {
        m_remoteHost = host;
        m_remoteAddress = QHostAddress(host.trimmed());  // parsed once, not per datagram
    }
    quint16 remotePort() const { return m_remotePort; }
    void setRemotePort(quint16 port) { m_remotePort = port; }
    // Received data is dropped as it arrives and raises no event; for peers
    // that are only ever written to.
    void setDiscardReceived(bool discard) { m_discardReceived = discard; }
    // Bytes received and not yet read.
    qint64 unreadBytes() const { return m_received.size(); }
    // Bytes sent and not yet taken by the peer: what waits in this process
    // and in the OS's send queue. 0 without a connection.
    qint64 unsentBytes() const;

    int state() const { return m_state; }
    // Own address, dotted IPv4. A connection's own address; otherwise (closed,
    // listening on all addresses, UDP) the first IPv4 address of the first
    // interface that is up, running and not loopback; 127.0.0.1 without one.
    QString localIP() const;
    // The peer's dotted address once connected (kept after the peer closed,
    // until close()); empty text before.
    QString remoteHostIP() const;

    // The last error this socket failed with, kept until close(); for a caller
    // that must tell it at once rather than when its event comes.
    int lastErrorNumber() const { return m_lastErrorNumber; }
    QString lastErrorText() const { return m_lastErrorText; }

    void close();
    void listen();
    // Listener: the waiting connection requestId becomes `socket`'s (a closed
    // TCP Winsock); a failure is that socket's error.
    void acceptInto(qintptr requestId, Winsock &socket);
    void rejectRequest(qintptr requestId);
    void connectToRemote();
    void sendData(const QByteArray &data);
    // Two bytes, low byte first: 1000 goes out as E8 03.
    void sendInt16(qint16 value);
    // UDP: how many routers a datagram to a multicast group may cross (until
    // set, the OS default of 1). Takes effect from the next datagram.
    void setMulticastTtl(int ttl);
    // UDP: sendData() for a caller that must know whether the OS took the
    // datagram; on false, *error says why. Like sendData(), it never blocks and
    // raises no event.
    bool sendDatagram(const QByteArray &data, QString *error = nullptr);
    // Everything received and not yet read; reading consumes it.
    QByteArray getData();

signals:
    void connectionRequested(qintptr requestId);
    void dataArrived(qint64 bytesTotal);
    void sendProgressed(qint64 bytesSent, qint64 bytesRemaining);
    void sendCompleted();
    void peerClosed();
    void errorOccurred(int number, const QString &description);

private:
    friend class WinsockServer;

    void postError(int number, const QString &description);
    void deliverErrors();
    void failWith(int number, const QString &description);
    void incomingConnection(qintptr descriptor);
    void adoptDescriptor(qintptr descriptor);
    void adoptConnection(QTcpSocket *socket);
    void releaseConnection();
    void releasePendingRequests();
    bool ensureUdpBound();

    void onReadyRead();
    bool takeReceived();
    void onBytesWritten(qint64 bytes);
    void onSocketError();
    void onDisconnected();
    void onStateChanged();
    void markPeerClosed();

    Protocol m_protocol = TCP;
    quint16 m_localPort = 0;
    QString m_remoteHost;
    QHostAddress m_remoteAddress;
    quint16 m_remotePort = 0;
    int m_multicastTtl = -1;  // -1: the OS default
    int m_state = Closed;

    WinsockServer *m_server = nullptr;
    QTcpSocket *m_tcp = nullptr;
    QUdpSocket *m_udp = nullptr;
    QHostAddress m_peerAddress;
    QByteArray m_received;
    bool m_discardReceived = false;
    bool m_peerCloseReported = false;
    bool m_connecting = false;  // inside connectToRemote(), where Qt may fail at once
    // Connection requests this listener raised that nobody has taken yet.
    QSet<qintptr> m_requests;
    // Errors of calls, told once the call has returned; close() drops them.
    QList<QPair<int, QString>> m_pendingErrors;
    int m_lastErrorNumber = 0;
    QString m_lastErrorText;
};
