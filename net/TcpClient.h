// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/Reconnection.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

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
// buffer (TCP's flow control makes a flooding peer wait). What comes in is
// handed on in pieces of ReadPieceBytes, and while more than HighWaterBytes of
// answers wait to be sent the client reads nothing more, until the peer has
// taken them down to LowWaterBytes: a burst of questions of any size from a
// peer that reads is answered in full, a piece at a time. The connection is
// dropped only when the peer has taken nothing for the send timeout while
// bytes wait for it, or (a guard no reading peer reaches) when more than
// MaxQueuedBytes wait.
class TcpClient : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 HighWaterBytes = 32 * 1024;
    static constexpr qint64 LowWaterBytes = 8 * 1024;
    static constexpr qint64 MaxQueuedBytes = 1024 * 1024;
    static constexpr qint64 MaxReadBytes = 16 * 1024;
    static constexpr qint64 ReadPieceBytes = 1024;
    static constexpr int SendTimeoutMs = 60000;  // as the web server's
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
    // How long a peer may take nothing while bytes wait for it.
    void setSendTimeout(int ms) { m_stall.setInterval(ms); }

signals:
    void connected();
    void disconnected();
    // What came in, in pieces of at most ReadPieceBytes, cut wherever they fall.
    void received(const QByteArray &bytes);
    // After start() only: the peer was lost (wasUp) or could not be reached;
    // the next try comes in retryMs.
    void lost(const QString &reason, bool wasUp, int retryMs);
    // After start() only: the first connection, or the first after a loss.
    void reached(bool again);

private:
    void onConnected();
    void onReadyRead();
    void onBytesWritten();
    void gone(const QString &reason);
    void release();

    QString m_host;
    quint16 m_port;
    QTcpSocket *m_socket = nullptr;
    Reconnection m_reconnection;
    QTimer m_stall;  // runs while bytes wait and the peer takes none
    bool m_discard = false;
    bool m_up = false;
    bool m_paused = false;  // answers above the high-water mark: nothing is read
};
