// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TcpClient.h"

#include <QTcpSocket>

#include <utility>

TcpClient::TcpClient(const QString &host, quint16 port, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
    , m_reconnection([this] { connectNow(); })
{
    connect(&m_reconnection, &Reconnection::lost, this, &TcpClient::lost);
    connect(&m_reconnection, &Reconnection::reached, this, &TcpClient::reached);
}

TcpClient::~TcpClient()
{
    release();
}

void TcpClient::setPeer(const QString &host, quint16 port)
{
    m_host = host;
    m_port = port;
}

QString TcpClient::peerName() const
{
    const QString host = m_host.contains(u':') ? u'[' + m_host + u']' : m_host;
    return host + u':' + QString::number(m_port);
}

void TcpClient::start()
{
    m_reconnection.start();
}

void TcpClient::stop()
{
    m_reconnection.stop();
    if (m_up)
        m_socket->flush();
    release();
    m_up = false;
}

void TcpClient::connectNow()
{
    release();
    if (std::exchange(m_up, false))
        emit disconnected();
    auto *socket = new QTcpSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(MaxReadBytes);
    connect(socket, &QTcpSocket::connected, this, &TcpClient::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpClient::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] { gone(QStringLiteral("it closed the connection")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { gone(socket->errorString()); });
    socket->connectToHost(m_host, m_port);
}

void TcpClient::send(const QByteArray &bytes)
{
    if (!m_up)
        return;
    m_socket->write(bytes);
    if (m_socket->bytesToWrite() > MaxQueuedBytes)
        gone(QStringLiteral("it has not read the last %1 bytes sent").arg(m_socket->bytesToWrite()));
}

void TcpClient::onConnected()
{
    m_up = true;
    // Bytes go out as they are written, and the OS holds little for a peer
    // that stalls, so that the queue's bound tells the truth soon.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 16 * 1024);
    m_reconnection.up();
    emit connected();
}

void TcpClient::onReadyRead()
{
    QTcpSocket *socket = m_socket;
    if (m_discard) {
        socket->skip(socket->bytesAvailable());
        return;
    }
    // A handler may drop the connection (its answer overflowed the queue).
    while (socket == m_socket && socket->bytesAvailable() > 0)
        emit received(socket->read(MaxReadBytes));
}

// The connection, or the try, is over; with start(), the next try is due.
void TcpClient::gone(const QString &reason)
{
    const bool wasUp = std::exchange(m_up, false);
    release();
    m_reconnection.ended(reason, wasUp);
    if (wasUp)
        emit disconnected();
}

// The socket tells nothing more from here on.
void TcpClient::release()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
