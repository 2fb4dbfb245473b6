// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/Reconnection.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>

class QWebSocket;

// One WebSocket connection to one peer (JMRI's JSON server), kept up as
// Reconnection says, for an owner that speaks in text messages. Qt WebSockets
// does the framing; this bounds what the peer can cost: a message or frame
// over MaxMessageBytes, anything that is not WebSocket, or a handshake that
// does not finish within HandshakeMs ends the connection, and a new one is
// made. More than MaxQueuedBytes waiting to be sent (a peer that does not
// read) costs a reconnect, never memory.
class WebSocketClient : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxMessageBytes = 64 * 1024;
    static constexpr qint64 MaxQueuedBytes = 64 * 1024;
    static constexpr int HandshakeMs = 10000;

    explicit WebSocketClient(const QUrl &url, QObject *parent = nullptr);
    ~WebSocketClient() override;

    // "host:port" ("[host]:port" for an IPv6 address), for messages.
    QString peerName() const;
    // Connects now, and again after every loss, until stop().
    void start();
    // Closes the connection and stops trying.
    void stop();
    bool isConnected() const { return m_up; }
    // One text message, queued after those before it; dropped while not connected.
    void send(const QByteArray &message);
    // The owner cannot use what the peer said: the connection ends, told as a
    // loss with this reason, and a new one follows.
    void drop(const QString &reason);

signals:
    void connected();
    void disconnected();
    void received(const QByteArray &message);
    void lost(const QString &reason, bool wasUp, int retryMs);
    void reached(bool again);

private:
    void connectNow();
    void onConnected();
    void gone(const QString &reason);
    void release();

    QUrl m_url;
    QWebSocket *m_socket = nullptr;
    QTimer m_handshake;
    Reconnection m_reconnection;
    bool m_up = false;
};
