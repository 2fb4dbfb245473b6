// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/GridConnectClient.h"

GridConnectClient::GridConnectClient(const QString &host, quint16 port, QObject *parent)
    : TcpClient(host, port, parent)
{
    connect(this, &TcpClient::connected, this, [this] { m_reader = GridConnect::Reader(); });
    connect(this, &TcpClient::received, this, &GridConnectClient::readFrames);
    connect(this, &TcpClient::lost, this, [this](const QString &reason, bool wasUp, int retryMs) {
        emit hubLost(QStringLiteral("LCC hub %1 %2: %3; trying again, first in %4 s, at most every %5 s")
                         .arg(peerName(), wasUp ? QStringLiteral("lost") : QStringLiteral("cannot be reached"),
                              reason)
                         .arg(retryMs / 1000)
                         .arg(LastRetryMs / 1000));
    });
    connect(this, &TcpClient::reached, this, [this](bool again) {
        emit hubReached((again ? QStringLiteral("LCC hub %1 is back") : QStringLiteral("LCC hub %1 connected"))
                            .arg(peerName()));
    });
}

void GridConnectClient::readFrames(const QByteArray &bytes)
{
    const QList<CanFrame> frames = m_reader.feed(bytes);
    for (const CanFrame &frame : frames) {
        if (!isConnected())
            return;  // an answer overflowed the queue and dropped the connection
        emit frameReceived(frame);
    }
}
