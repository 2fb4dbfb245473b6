// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/GridConnectClient.h"

#include <QTcpSocket>

#include <algorithm>

GridConnectClient::GridConnectClient(const QString &host, quint16 port, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_port(port)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &GridConnectClient::connectNow);
}

GridConnectClient::~GridConnectClient()
{
    release();
}

QString GridConnectClient::hubName() const
{
    return m_host.contains(u':') ? QStringLiteral("[%1]:%2").arg(m_host).arg(m_port)
                                 : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void GridConnectClient::start()
{
    if (m_running)
        return;
    m_running = true;
    m_retryMs = FirstRetryMs;
    connectNow();
}

void GridConnectClient::stop()
{
    m_running = false;
    m_retry.stop();
    if (m_socket && m_up)
        m_socket->flush();  // what the OS takes now still goes out
    release();
    m_up = false;
}

bool GridConnectClient::isConnected() const
{
    return m_up;
}

qint64 GridConnectClient::queuedBytes() const
{
    return m_socket && m_up ? m_socket->bytesToWrite() : 0;
}

void GridConnectClient::send(const CanFrame &frame)
{
    if (!m_up || !m_socket)
        return;
    m_socket->write(GridConnect::encode(frame));
    if (m_socket->bytesToWrite() > MaxQueuedBytes)
        gone(QStringLiteral("it has not read the last %1 bytes sent").arg(m_socket->bytesToWrite()));
}

void GridConnectClient::connectNow()
{
    if (!m_running)
        return;
    release();
    m_reader = GridConnect::Reader();
    auto *socket = new QTcpSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(MaxReadBytes);
    connect(socket, &QTcpSocket::connected, this, &GridConnectClient::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &GridConnectClient::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] { gone(QStringLiteral("it closed the connection")); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (socket == m_socket)
            gone(socket->errorString());
    });
    socket->connectToHost(m_host, m_port);
}

void GridConnectClient::onConnected()
{
    m_up = true;
    m_upSince.start();
    // Frames go out as they are written, and the OS holds little for a hub
    // that stalls, so that the queue above tells the truth soon.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 16 * 1024);
    if (m_lostReported || !m_everReached)
        emit hubReached(m_everReached ? QStringLiteral("LCC hub %1 is back").arg(hubName())
                                      : QStringLiteral("LCC hub %1 connected").arg(hubName()));
    m_lostReported = false;
    m_everReached = true;
    emit connected();
}

void GridConnectClient::onReadyRead()
{
    const QPointer<QTcpSocket> socket = m_socket;
    while (socket && socket == m_socket && socket->bytesAvailable() > 0) {
        const QList<CanFrame> frames = m_reader.feed(socket->read(MaxReadBytes));
        for (const CanFrame &frame : frames) {
            if (socket != m_socket)
                return;  // an answer overflowed the queue and dropped the connection
            emit frameReceived(frame);
        }
    }
}

// The connection (or the try) is over; the next try is scheduled.
void GridConnectClient::gone(const QString &reason)
{
    const bool wasUp = m_up;
    if (wasUp && m_upSince.elapsed() >= SteadyMs)
        m_retryMs = FirstRetryMs;
    m_up = false;
    release();
    if (!m_running)
        return;
    const int delay = m_retryMs;
    m_retryMs = std::min(m_retryMs * 2, LastRetryMs);
    m_retry.start(delay);
    if (!m_lostReported) {
        m_lostReported = true;
        emit hubLost(QStringLiteral("LCC hub %1 %2: %3; trying again, first in %4 s, at most every %5 s")
                         .arg(hubName(), wasUp ? QStringLiteral("lost") : QStringLiteral("cannot be reached"),
                              reason)
                         .arg(delay / 1000)
                         .arg(LastRetryMs / 1000));
    }
    if (wasUp)
        emit disconnected();
}

void GridConnectClient::release()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
