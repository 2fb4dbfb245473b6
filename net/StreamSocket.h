// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>

class QSocketNotifier;

// A connection that only sends from now on (an events stream), on its bare
// descriptor: no Qt socket with its buffers behind it, so that thousands of
// them cost little, and one event written to all of them is never copied per
// connection. What the system takes is sent at once; only a connection whose
// socket would block keeps the rest, as references to the same shared bytes,
// until the socket can take more. Whatever the peer sends is read and
// dropped; its close or reset ends the connection.
class StreamSocket : public QObject
{
    Q_OBJECT
public:
    // Takes the descriptor over; it is closed when this object goes.
    explicit StreamSocket(int descriptor, QObject *parent = nullptr);
    ~StreamSocket() override;

    // False once the peer cannot be written to any more (reset, gone).
    bool write(const QByteArray &data);
    // Bytes written and not yet taken by the peer: those still waiting here
    // and those in the system's send queue.
    qint64 unsent() const;

signals:
    // The peer has closed or reset the connection, or writing to it failed;
    // nothing more is written.
    void ended();

private:
    void flush();
    bool sendFront();
    void drop();
    void end();

    int m_descriptor;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    std::deque<QByteArray> m_queue;  // shared with every other connection's queue
    qsizetype m_sentOfFront = 0;
    qint64 m_waiting = 0;
    bool m_ended = false;
};
