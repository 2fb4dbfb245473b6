// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/GridConnect.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A GridConnect hub on 127.0.0.1, written from the format alone: one node at
// a time; it records each frame heard and when each node came, and sends what
// it is told. One that does not read never reads from its connection.
class FakeHub : public QObject
{
public:
    explicit FakeHub(bool reading = true)
    {
        clock.start();
        connect(&m_server, &QTcpServer::newConnection, this, [this, reading] {
            while (QTcpSocket *peer = m_server.nextPendingConnection()) {
                delete m_peer;
                m_peer = peer;
                m_reader = GridConnect::Reader();
                connectedAt << clock.elapsed();
                if (!reading) {
                    peer->setReadBufferSize(1);
                    peer->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
                    continue;
                }
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] {
                    for (const CanFrame &f : m_reader.feed(peer->readAll()))
                        texts << GridConnect::text(f);
                });
            }
        });
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_port ? m_port : (m_port = m_server.serverPort()); }
    // The hub goes away: no listener, the connection closed.
    void vanish()
    {
        port();
        m_server.close();
        delete m_peer;
    }
    void send(const QByteArray &text) { if (m_peer) m_peer->write(text); }
    // The index of the first such frame from `from` on, waiting up to timeoutMs; -1 if none came.
    int waitFor(const QByteArray &text, int from = 0, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return texts.indexOf(text, from) >= 0; }, timeoutMs) ? int(texts.indexOf(text, from)) : -1;
    }

    QByteArrayList texts;
    QElapsedTimer clock;
    QList<qint64> connectedAt;  // ms on `clock`

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    GridConnect::Reader m_reader;
    mutable quint16 m_port = 0;
};
