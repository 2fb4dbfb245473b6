// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/WebSocketClient.h"

#include "net/DottedAddress.h"

#include <QWebSocket>

#include <utility>

WebSocketClient::WebSocketClient(const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_reconnection([this] { connectNow(); })
{
    m_handshake.setSingleShot(true);
    m_handshake.setInterval(HandshakeMs);
    connect(&m_handshake, &QTimer::timeout, this,
            [this] { gone(QStringLiteral("no WebSocket handshake within %1 s").arg(HandshakeMs / 1000)); });
    connect(&m_reconnection, &Reconnection::lost, this, &WebSocketClient::lost);
    connect(&m_reconnection, &Reconnection::reached, this, &WebSocketClient::reached);
}

WebSocketClient::~WebSocketClient()
{
    release();
}

QString WebSocketClient::peerName() const
{
    return hostAndPort(m_url.host(), quint16(m_url.port()));
}

void WebSocketClient::start()
{
    m_reconnection.start();
}

void WebSocketClient::stop()
{
    m_reconnection.stop();
    m_handshake.stop();
    // What was sent last goes out before the socket does.
    if (m_up) {
        m_socket->flush();
        m_socket->close();
    }
    release();
    m_up = false;
}

void WebSocketClient::connectNow()
{
    release();
    if (std::exchange(m_up, false))
        emit disconnected();
    auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    socket->setReadBufferSize(MaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
    socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
    connect(socket, &QWebSocket::connected, this, &WebSocketClient::onConnected);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &message) { emit received(message.toUtf8()); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, &WebSocketClient::received);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        // A connection that never came up ends here too, with the socket's error.
        if (!socket->closeReason().isEmpty())
            gone(socket->closeReason());
        else if (!m_up && socket->error() != QAbstractSocket::UnknownSocketError)
            gone(socket->errorString());
        else
            gone(QStringLiteral("it closed the connection"));
    });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this, socket] { gone(socket->errorString()); });
    m_handshake.start();
    socket->open(m_url);
}

void WebSocketClient::onConnected()
{
    m_handshake.stop();
    m_up = true;
    m_reconnection.up();
    emit connected();
}

void WebSocketClient::send(const QByteArray &message)
{
    if (!m_up)
        return;
    m_socket->sendTextMessage(QString::fromUtf8(message));
    if (m_socket->bytesToWrite() > MaxQueuedBytes)
        gone(QStringLiteral("it has not read the last %1 bytes sent").arg(m_socket->bytesToWrite()));
}

void WebSocketClient::drop(const QString &reason)
{
    if (m_socket)
        gone(reason);
}

// The connection, or the try, is over; after start(), the next try is due.
void WebSocketClient::gone(const QString &reason)
{
    m_handshake.stop();
    const bool wasUp = std::exchange(m_up, false);
    release();
    m_reconnection.ended(reason, wasUp);
    if (wasUp)
        emit disconnected();
}

// The socket tells nothing more from here on.
void WebSocketClient::release()
{
    if (!m_socket)
        return;
    QWebSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
