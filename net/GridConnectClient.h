// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/GridConnect.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTcpSocket;

// A client of a GridConnect TCP hub (JMRI's or OpenMRN's, port 12021 by
// default): it keeps one connection up, hands each whole frame that comes in
// to frameReceived, and writes the frames it is given one after another.
//
// When the hub is away it tries again after 1 s, then 2, 4, ... up to 30 s
// (back to 1 s once a connection has lasted 5 s). A lost hub is reported once
// (hubLost) until a connection is made again (hubReached), however many tries
// that takes.
//
// Nothing grows without bound: at most MaxReadBytes wait unread in Qt's buffer
// (TCP's flow control makes a flooding hub wait), a frame being read costs at
// most GridConnect::MaxFrameLength bytes, and when more than MaxQueuedBytes
// wait to be sent (a hub that does not read) the connection is dropped and
// made again later: a hub that stalls costs a reconnect, never memory.
class GridConnectClient : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxQueuedBytes = 64 * 1024;
    static constexpr qint64 MaxReadBytes = 16 * 1024;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 30000;
    static constexpr int SteadyMs = 5000;

    GridConnectClient(const QString &host, quint16 port, QObject *parent = nullptr);
    ~GridConnectClient() override;

    QString hubName() const;
    // Connects now, and again whenever the connection is lost, until stop().
    void start();
    // Closes the connection (what the OS takes at once still goes out) and
    // stops trying.
    void stop();
    bool isConnected() const;
    // Writes the frame after those before it; dropped while not connected.
    void send(const CanFrame &frame);
    // Bytes given to the socket that the OS has not taken yet.
    qint64 queuedBytes() const;
    // The wait before the next try, while one is due.
    int retryDelayMs() const { return m_retryMs; }
    const GridConnect::Reader &reader() const { return m_reader; }

signals:
    void connected();
    void disconnected();
    void frameReceived(const CanFrame &frame);
    // One line for the person running the program: the hub was lost (or
    // could not be reached at all), or it is there (again).
    void hubLost(const QString &text);
    void hubReached(const QString &text);

private:
    void connectNow();
    void onConnected();
    void onReadyRead();
    void gone(const QString &reason);
    void release();

    QString m_host;
    quint16 m_port;
    QPointer<QTcpSocket> m_socket;
    GridConnect::Reader m_reader;
    QTimer m_retry;
    QElapsedTimer m_upSince;
    int m_retryMs = FirstRetryMs;
    bool m_running = false;
    bool m_up = false;
    bool m_lostReported = false;
    bool m_everReached = false;
};
