// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/GridConnect.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>

// A GridConnect hub for tests, written from the format alone: it listens on
// 127.0.0.1 (a port the OS picks), takes one node at a time, records each
// frame it hears with the time it came, and sends what the test tells it.
// A hub that does not read takes the connection and never reads from it.
class FakeHub : public QObject
{
public:
    explicit FakeHub(bool reading = true)
        : m_reading(reading)
    {
        clock.start();
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = m_server.nextPendingConnection()) {
                delete m_peer;
                m_peer = peer;
                m_reader = GridConnect::Reader();
                ++connections;
                connect(peer, &QTcpSocket::disconnected, this, [this] { ++disconnections; });
                if (!m_reading) {
                    peer->setReadBufferSize(1);
                    peer->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
                    continue;
                }
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                    for (const CanFrame &f : m_reader.feed(peer->readAll())) {
                        frames << f;
                        texts << GridConnect::text(f);
                        at << clock.elapsed();
                    }
                });
            }
        });
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_port ? m_port : (m_port = m_server.serverPort()); }
    bool connected() const { return m_peer && m_peer->state() == QAbstractSocket::ConnectedState; }
    // The hub goes away: no listener, the connection reset.
    void vanish()
    {
        port();
        m_server.close();
        if (m_peer)
            m_peer->abort();
        delete m_peer;
    }
    void send(const QByteArray &text)
    {
        if (m_peer)
            m_peer->write(text);
    }
    qint64 unsentBytes() const { return m_peer ? m_peer->bytesToWrite() : 0; }
    // The index of the first frame at or after `from` with this text, waiting
    // for it up to timeoutMs; -1 if it never came.
    int waitFor(const QByteArray &text, int from = 0, int timeoutMs = 5000)
    {
        int found = -1;
        const bool came = QTest::qWaitFor([&] {
            found = int(texts.indexOf(text, from));
            return found >= 0;
        }, timeoutMs);
        return came ? found : -1;
    }

    QList<CanFrame> frames;
    QByteArrayList texts;
    QList<qint64> at;  // ms on `clock` when each frame came
    QElapsedTimer clock;
    int connections = 0;
    int disconnections = 0;

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    GridConnect::Reader m_reader;
    bool m_reading;
    mutable quint16 m_port = 0;
};
