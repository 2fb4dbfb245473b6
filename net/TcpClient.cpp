// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TcpClient.h"

#include "net/DottedAddress.h"

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
    m_stall.setSingleShot(true);
    m_stall.setInterval(SendTimeoutMs);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        gone(QStringLiteral("it has taken nothing of the last %1 bytes sent for %2 s")
                 .arg(m_socket->bytesToWrite())
                 .arg(m_stall.interval() / 1000.0));
    });
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
    return hostAndPort(m_host, m_port);
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
    connect(socket, &QTcpSocket::bytesWritten, this, &TcpClient::onBytesWritten);
    connect(socket, &QTcpSocket::disconnected, this, [this] { gone(QStringLiteral("it closed the connection")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { gone(socket->errorString()); });
    socket->connectToHost(m_host, m_port);
}

void TcpClient::send(const QByteArray &bytes)
{
    if (!m_up)
        return;
    m_socket->write(bytes);
    const qint64 waiting = m_socket->bytesToWrite();
    if (waiting > MaxQueuedBytes)
        return gone(QStringLiteral("it has not read the last %1 bytes sent").arg(waiting));
    m_paused = m_paused || waiting > HighWaterBytes;
    if (waiting > 0 && !m_stall.isActive())
        m_stall.start();
}

// The peer takes what waits: the stall's clock starts again, and below the
// low-water mark what it asked meanwhile is read.
void TcpClient::onBytesWritten()
{
    const qint64 waiting = m_socket->bytesToWrite();
    if (waiting > 0)
        m_stall.start();
    else
        m_stall.stop();
    if (m_paused && waiting <= LowWaterBytes) {
        m_paused = false;
        onReadyRead();
    }
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
    // A handler may drop the connection, or pause the reading with its answers.
    while (socket == m_socket && !m_paused && socket->bytesAvailable() > 0)
        emit received(socket->read(ReadPieceBytes));
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
    m_stall.stop();
    m_paused = false;
    if (!m_socket)
        return;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
