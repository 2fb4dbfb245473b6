// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Winsock.h"

#include "net/LingeringClose.h"

#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <utility>

// The listening socket: every accepted descriptor becomes a connection request
// of its Winsock instead of a QTcpSocket of Qt's pending queue.
class WinsockServer : public QTcpServer
{
public:
    explicit WinsockServer(Winsock *owner) : QTcpServer(owner), m_owner(owner) {}

protected:
    void incomingConnection(qintptr descriptor) override { m_owner->incomingConnection(descriptor); }

private:
    Winsock *m_owner;
};

namespace {

// A descriptor that no QTcpSocket owns yet (Linux: a plain file descriptor).
void closeDescriptor(qintptr descriptor)
{
    ::close(static_cast<int>(descriptor));
}

QString dotted(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString machineIPv4()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : interfaces) {
        const auto flags = i.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = i.addressEntries();
        for (const QNetworkAddressEntry &e : entries) {
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return e.ip().toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

int errorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return Winsock::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError: return Winsock::ConnectionReset;
    case QAbstractSocket::HostNotFoundError: return Winsock::HostNotFound;
    case QAbstractSocket::SocketAccessError: return Winsock::AccessDenied;
    case QAbstractSocket::SocketResourceError: return Winsock::NoBufferSpace;
    case QAbstractSocket::SocketTimeoutError: return Winsock::TimedOut;
    case QAbstractSocket::DatagramTooLargeError: return Winsock::MsgTooBig;
    case QAbstractSocket::NetworkError: return Winsock::NetworkUnreachable;
    case QAbstractSocket::AddressInUseError: return Winsock::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError: return Winsock::AddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError: return Winsock::WrongProtocol;
    default: return Winsock::NetworkDown;
    }
}

} // namespace

Winsock::Winsock(QObject *parent) : QObject(parent) {}

// The sockets are children and go with this object; what they tell as they
// go (an abort is a disconnection) must not reach a program that is tearing
// down.
Winsock::~Winsock()
{
    releasePendingRequests();
    for (QObject *socket : std::initializer_list<QObject *>{m_server, m_tcp, m_udp}) {
        if (socket)
            disconnect(socket, nullptr, this, nullptr);
    }
}

void Winsock::postError(int number, const QString &description)
{
    m_pendingErrors.append({number, description});
    if (m_pendingErrors.size() == 1)
        QMetaObject::invokeMethod(this, &Winsock::deliverErrors, Qt::QueuedConnection);
}

// One at a time, so that a handler's close() drops the rest.
void Winsock::deliverErrors()
{
    while (!m_pendingErrors.isEmpty()) {
        const QPair<int, QString> error = m_pendingErrors.takeFirst();
        emit errorOccurred(error.first, error.second);
    }
}

void Winsock::failWith(int number, const QString &description)
{
    m_state = Error;
    m_lastErrorNumber = number;
    m_lastErrorText = description;
    postError(number, description);
}

quint16 Winsock::localPort() const
{
    if (m_server && m_server->isListening())
        return m_server->serverPort();
    if (m_tcp && m_tcp->state() == QAbstractSocket::ConnectedState)
        return m_tcp->localPort();
    if (m_udp && m_udp->state() == QAbstractSocket::BoundState)
        return m_udp->localPort();
    return m_localPort;
}

QString Winsock::localIP() const
{
    if (m_tcp && m_tcp->state() == QAbstractSocket::ConnectedState) {
        const QHostAddress own = m_tcp->localAddress();
        if (!own.isNull() && own != QHostAddress::AnyIPv4 && own != QHostAddress::Any)
            return dotted(own);
    }
    return machineIPv4();
}

QString Winsock::remoteHostIP() const
{
    return m_peerAddress.isNull() ? QString() : dotted(m_peerAddress);
}

qint64 Winsock::unsentBytes() const
{
    if (!m_tcp)
        return 0;
    int queued = 0;
    if (::ioctl(int(m_tcp->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_tcp->bytesToWrite() + queued;
}

void Winsock::close()
{
    m_pendingErrors.clear();
    m_lastErrorNumber = 0;
    m_lastErrorText.clear();
    m_received.clear();
    m_peerCloseReported = false;
    m_peerAddress.clear();
    if (m_server) {
        disconnect(m_server, nullptr, this, nullptr);
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    releasePendingRequests();
    releaseConnection();
    if (m_udp) {
        disconnect(m_udp, nullptr, this, nullptr);
        m_udp->close();
        m_udp->deleteLater();
        m_udp = nullptr;
    }
    m_state = Closed;
}

// From now on the connection is LingeringClose's, and tells nothing more.
void Winsock::releaseConnection()
{
    if (!m_tcp)
        return;
    QTcpSocket *socket = std::exchange(m_tcp, nullptr);
    disconnect(socket, nullptr, this, nullptr);
    LingeringClose::begin(socket);
}

void Winsock::releasePendingRequests()
{
    for (const qintptr descriptor : std::as_const(m_requests))
        closeDescriptor(descriptor);
    m_requests.clear();
}
void Winsock::listen()
{
    if (m_protocol != TCP) {
        postError(WrongProtocol, QStringLiteral("Only a TCP socket can listen"));
        return;
    }
    if (m_state != Closed) {
        postError(InvalidOp, QStringLiteral("Invalid operation at current state"));
        return;
    }
    auto *server = new WinsockServer(this);
    if (!server->listen(QHostAddress::AnyIPv4, m_localPort)) {
        const int number = errorNumber(server->serverError());
        const QString description = server->errorString();
        delete server;
        failWith(number, description);
        return;
    }
    // Running out of descriptors pauses Qt's accepting; the listener itself is
    // fine, so try again a little later instead of going deaf for good.
    connect(server, &QTcpServer::acceptError, this, [server] {
        QTimer::singleShot(100, server, [server] { server->resumeAccepting(); });
    });
    m_server = server;
    m_state = Listening;
}

void Winsock::incomingConnection(qintptr descriptor)
{
    m_requests.insert(descriptor);
    emit connectionRequested(descriptor);
}

void Winsock::acceptInto(qintptr requestId, Winsock &socket)
{
    if (socket.m_protocol != TCP) {
        socket.postError(WrongProtocol, QStringLiteral("Only a TCP socket can accept a connection"));
        return;
    }
    if (socket.m_state != Closed) {
        socket.postError(InvalidOp, QStringLiteral("Invalid operation at current state"));
        return;
    }
    if (!m_requests.remove(requestId)) {
        socket.failWith(InvalidArgument, QStringLiteral("No connection request %1 is waiting").arg(requestId));
        return;
    }
    socket.adoptDescriptor(requestId);
}

void Winsock::adoptDescriptor(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        const int number = errorNumber(socket->error());
        const QString description = socket->errorString();
        delete socket;
        closeDescriptor(descriptor);
        failWith(number, description);
        return;
    }
    // A server's answer leaves in pieces, each once the last has gone: Nagle's
    // rule would hold each piece back until the peer's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    adoptConnection(socket);
    m_peerAddress = socket->peerAddress();
    m_state = Connected;
}

void Winsock::rejectRequest(qintptr requestId)
{
    if (m_requests.remove(requestId))
        closeDescriptor(requestId);
}
void Winsock::connectToRemote()
{
    if (m_protocol != TCP) {
        postError(WrongProtocol, QStringLiteral("Only a TCP socket can connect"));
        return;
    }
    if (m_state != Closed) {
        postError(InvalidOp, QStringLiteral("Invalid operation at current state"));
        return;
    }
    auto *socket = new QTcpSocket(this);
    adoptConnection(socket);
    m_state = ResolvingHost;
    // Qt may move on, or fail, inside this call; a failure is told after it.
    m_connecting = true;
    socket->connectToHost(m_remoteHost.trimmed(), m_remotePort, QIODevice::ReadWrite,
                          QAbstractSocket::IPv4Protocol);
    m_connecting = false;
}

void Winsock::adoptConnection(QTcpSocket *socket)
{
    m_tcp = socket;
    // Qt stops reading from the system once this much waits in its buffer.
    socket->setReadBufferSize(MaxUnreadBytes);
    m_peerCloseReported = false;
    connect(socket, &QIODevice::readyRead, this, &Winsock::onReadyRead);
    connect(socket, &QIODevice::bytesWritten, this, &Winsock::onBytesWritten);
    connect(socket, &QAbstractSocket::errorOccurred, this, &Winsock::onSocketError);
    connect(socket, &QAbstractSocket::disconnected, this, &Winsock::onDisconnected);
    connect(socket, &QAbstractSocket::stateChanged, this, &Winsock::onStateChanged);
}

void Winsock::onStateChanged()
{
    if (!m_tcp || m_state == Closing || m_state == Error)
        return;
    switch (m_tcp->state()) {
    case QAbstractSocket::HostLookupState:
        m_state = ResolvingHost;
        break;
    case QAbstractSocket::ConnectingState:
        m_state = Connecting;
        break;
    case QAbstractSocket::ConnectedState:
        if (m_state != Connected) {
            m_state = Connected;
            m_peerAddress = m_tcp->peerAddress();
        }
        break;
    default:
        // Unconnected and Closing are told by errorOccurred and disconnected.
        break;
    }
}

void Winsock::onReadyRead()
{
    if (!m_tcp || !m_tcp->isOpen())
        return;
    if (m_discardReceived) {
        m_tcp->skip(m_tcp->bytesAvailable());
        return;
    }
    if (takeReceived())
        emit dataArrived(m_received.size());
}

// Moves what Qt has read into m_received, up to the bound; the rest stays in
// Qt's buffer (bounded too), and the peer waits until the program reads.
bool Winsock::takeReceived()
{
    const qint64 room = MaxUnreadBytes - m_received.size();
    if (room <= 0 || m_tcp->bytesAvailable() <= 0)
        return false;
    m_received += m_tcp->read(room);
    return true;
}

void Winsock::onBytesWritten(qint64 bytes)
{
    if (!m_tcp)
        return;
    const qint64 remaining = m_tcp->bytesToWrite();
    emit sendProgressed(bytes, remaining);
    // The progress handler may have closed the connection, or queued more.
    if (m_tcp && remaining == 0 && m_tcp->bytesToWrite() == 0)
        emit sendCompleted();
}

void Winsock::onSocketError()
{
    if (!m_tcp)
        return;
    const QAbstractSocket::SocketError error = m_tcp->error();
    // Qt reports the peer's orderly close (and a reset) as this error; for the
    // program it is a close event.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        markPeerClosed();
        return;
    }
    if (m_state == Closing || m_state == Error)
        return;
    if (m_connecting) {
        failWith(errorNumber(error), m_tcp->errorString());
        return;
    }
    m_state = Error;
    m_lastErrorNumber = errorNumber(error);
    m_lastErrorText = m_tcp->errorString();
    emit errorOccurred(m_lastErrorNumber, m_lastErrorText);
}

void Winsock::onDisconnected()
{
    if (m_state == Connected)
        markPeerClosed();
}

// Whatever came before the close is told before it; the state already reads
// 8 then, so nothing is sent into the void.
void Winsock::markPeerClosed()
{
    if (m_peerCloseReported || m_state == Error)
        return;
    m_peerCloseReported = true;
    m_state = Closing;
    if (!m_discardReceived && m_tcp->isOpen() && takeReceived()) {
        emit dataArrived(m_received.size());
        if (m_state != Closing)
            return;  // the data's handler closed the connection
    }
    emit peerClosed();
}

bool Winsock::ensureUdpBound()
{
    if (m_udp)
        return true;
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress::AnyIPv4, m_localPort)) {
        delete socket;
        return false;
    }
    // Nothing is received on these sockets; whatever arrives is dropped.
    connect(socket, &QIODevice::readyRead, socket, [socket] {
        while (socket->hasPendingDatagrams())
            socket->readDatagram(nullptr, 0);
    });
    m_udp = socket;
    m_state = Open;
    return true;
}

void Winsock::sendData(const QByteArray &data)
{
    if (m_protocol == UDP) {
        sendDatagram(data);  // every failure is dropped silently
        return;
    }
    if (m_state == Closing)
        return; // the peer has gone; nothing can reach it any more
    if (m_state != Connected || !m_tcp) {
        postError(BadState,
                  QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
        return;
    }
    if (data.isEmpty())
        return;
    m_tcp->write(data);
}

void Winsock::sendInt16(qint16 value)
{
    const auto v = static_cast<quint16>(value);
    const char bytes[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    sendData(QByteArray(bytes, 2));
}

void Winsock::setMulticastTtl(int ttl)
{
    m_multicastTtl = ttl;
    if (m_udp)
        m_udp->setSocketOption(QAbstractSocket::MulticastTtlOption, ttl);
}

bool Winsock::sendDatagram(const QByteArray &data, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_protocol != UDP)
        return fail(QStringLiteral("Only a UDP socket sends datagrams"));
    if (m_remoteAddress.isNull())
        return fail(QStringLiteral("\"%1\" is not an IP address").arg(m_remoteHost));
    if (m_remotePort == 0)
        return fail(QStringLiteral("No remote port is set"));
    const bool fresh = !m_udp;
    if (!ensureUdpBound())
        return fail(QStringLiteral("No UDP socket can be bound to port %1").arg(m_localPort));
    if (fresh && m_multicastTtl >= 0)
        m_udp->setSocketOption(QAbstractSocket::MulticastTtlOption, m_multicastTtl);
    if (m_udp->writeDatagram(data, m_remoteAddress, m_remotePort) < 0)
        return fail(m_udp->errorString());
    return true;
}

// Qt's buffer is emptied too: what waits in it behind a full m_received would
// otherwise wait for a readyRead that only new data brings.
QByteArray Winsock::getData()
{
    QByteArray data = std::exchange(m_received, QByteArray());
    if (m_tcp && m_tcp->isOpen() && m_tcp->bytesAvailable() > 0)
        data += m_tcp->readAll();
    return data;
}
