// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "publish/DisplayPush.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// The display device on its address: counts connections, keeps what it gets.
struct DisplayDevice : QTcpServer
{
    int connections = 0;
    QByteArray received;
    QPointer<QTcpSocket> current;

    explicit DisplayDevice(const QString &address = ExtensionSettings::Display::DefaultAddress, quint16 port = ExtensionSettings::Display::DefaultPort)
    {
        listen(QHostAddress(address), port);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                ++connections;
                current = s;
                connect(s, &QIODevice::readyRead, this, [this, s] { received += s->readAll(); });
            }
        });
    }
};
