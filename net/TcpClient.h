// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/Reconnection.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

// One TCP connection to one peer (an LCC hub, a command station, the display
// device), for an owner that frames what goes over it: bytes out as given,
// bytes in as they come.
//
// Either the client keeps the connection up by itself (start()), trying again
// and reporting as Reconnection says. Or the owner decides when to try
// (connectNow() alone): then a lost connection stays lost and nothing is
// reported.
//
// Nothing a peer does grows memory: at most MaxReadBytes wait unread in Qt's
// buffer (TCP's flow control makes a flooding peer wait), and when more than
// MaxQueuedBytes wait to be sent (a peer that does not read) the connection is
// dropped: a stalled peer costs a reconnect, never memory.
class TcpClient : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxQueuedBytes = 64 * 1024;
    static constexpr qint64 MaxReadBytes = 16 * 1024;
    static constexpr int FirstRetryMs = Reconnection::FirstRetryMs;
    static constexpr int LastRetryMs = Reconnection::LastRetryMs;
    static constexpr int SteadyMs = Reconnection::SteadyMs;

    TcpClient(const QString &host, quint16 port, QObject *parent = nullptr);
    ~TcpClient() override;

    // Where the next connection goes; one that is up stays.
    void setPeer(const QString &host, quint16 port);
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    // "host:port" ("[host]:port" for an IPv6 address), for messages.
    QString peerName() const;
    // For peers that are only written to: what they send is dropped unread.
    void setDiscardReceived(bool discard) { m_discard = discard; }

    // Connects now, and again after every loss, until stop().
    void start();
    // Drops the connection or the attempt in progress and starts a new one.
    void connectNow();
    // Closes the connection (what the OS takes at once still goes out) and
    // stops trying.
    void stop();
    bool isConnected() const { return m_up; }
    // Queued after what was sent before; dropped while not connected.
    void send(const QByteArray &bytes);

signals:
    void connected();
    void disconnected();
    // What came in, in pieces of at most MaxReadBytes, cut wherever they fall.
    void received(const QByteArray &bytes);
    // After start() only: the peer was lost (wasUp) or could not be reached;
    // the next try comes in retryMs.
    void lost(const QString &reason, bool wasUp, int retryMs);
    // After start() only: the first connection, or the first after a loss.
    void reached(bool again);

private:
    void onConnected();
    void onReadyRead();
    void gone(const QString &reason);
    void release();

    QString m_host;
    quint16 m_port;
    QTcpSocket *m_socket = nullptr;
    Reconnection m_reconnection;
    bool m_discard = false;
    bool m_up = false;
};
