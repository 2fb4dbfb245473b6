// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// When to try a connection to a peer again, and what to tell about it, for an
// owner that makes the connections (a TCP client, a WebSocket client): after
// a loss the next try comes in 1 s, then 2, 4, ... up to 30 s, and from 1 s
// again once a connection has lasted 5 s. A loss is reported once however many
// tries fail (lost), and so are the first connection and the first after each
// loss (reached). Nothing is reported before start() or after stop().
class Reconnection : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 30000;
    static constexpr int SteadyMs = 5000;

    // tryNow drops whatever connection or attempt the owner has and makes a
    // new attempt.
    explicit Reconnection(std::function<void()> tryNow, QObject *parent = nullptr);

    // Tries now, and again after every loss, until stop().
    void start();
    void stop();
    bool isRunning() const { return m_running; }
    // The owner's connection is up.
    void up();
    // The owner's connection (wasUp) or its attempt is over; after start(),
    // the next try is due.
    void ended(const QString &reason, bool wasUp);

signals:
    // The peer was lost (wasUp) or could not be reached; the next try comes in retryMs.
    void lost(const QString &reason, bool wasUp, int retryMs);
    // The first connection, or the first after a loss.
    void reached(bool again);

private:
    std::function<void()> m_tryNow;
    QTimer m_retry;
    QElapsedTimer m_upSince;
    int m_retryMs = FirstRetryMs;
    bool m_running = false;
    bool m_lostReported = false;
    bool m_everReached = false;
};
