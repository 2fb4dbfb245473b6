// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>

class QSocketNotifier;

// Writes to a socket's descriptor past Qt's own buffer, so that one event
// written to thousands of connections is never copied per connection: what
// the system takes is sent at once, and only a connection whose socket would
// block keeps the rest, as references to the same shared bytes, until the
// socket can take more. Qt must not write to the socket meanwhile (its buffer
// would go out of order with this one).
class DirectWriter : public QObject
{
    Q_OBJECT
public:
    DirectWriter(qintptr descriptor, QObject *parent = nullptr);
    ~DirectWriter() override;

    // False once the peer cannot be written to any more (reset, gone).
    bool write(const QByteArray &data);
    // Bytes still waiting here, not yet handed to the system.
    qint64 waiting() const { return m_waiting; }

signals:
    // Writing failed for good; nothing more is written.
    void failed();

private:
    void flush();
    bool sendFront();

    const qintptr m_descriptor;
    std::unique_ptr<QSocketNotifier> m_writable;
    std::deque<QByteArray> m_queue;  // shared with every other connection's queue
    qsizetype m_sentOfFront = 0;
    qint64 m_waiting = 0;
    bool m_failed = false;
};
