// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

class QTcpSocket;

// Ends a connection without losing the end of what was sent to it. Closing a
// socket whose peer has sent more than was read (a pipelined request, bytes
// after a body) makes the OS answer with a reset, and a reset throws away
// whatever the peer has not yet received. So, as common servers do: once the
// socket's queue has gone to the OS, the sending side is shut down (the peer
// reads to the end and sees it), what still arrives is read and dropped, and
// the socket is closed when the peer closes its side, or after a bound of time
// or dropped bytes, so that no peer can keep it open.
class LingeringClose : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushMs = 10000;       // for the queue to reach the OS
    static constexpr int LingerMs = 2000;       // for the peer to finish, after that
    static constexpr qint64 MaxDropped = 64 * 1024;

    // Takes the socket over (it must not be told about by anyone else any more)
    // and deletes it when done.
    static void begin(QTcpSocket *socket);
    ~LingeringClose() override;

private:
    explicit LingeringClose(QTcpSocket *socket);
    void flushed();
    void drop();
    void finish();

    QTcpSocket *m_socket = nullptr;
    QTimer m_deadline;
    qint64 m_dropped = 0;
    bool m_shutDown = false;
};
