// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ServerSockets.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

void prepareServedSocket(QTcpSocket &socket)
{
    socket.setReadBufferSize(MaxUnreadBytes);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void resumeAcceptingAfterErrors(QTcpServer &server)
{
    QObject::connect(&server, &QTcpServer::acceptError, &server, [&server] {
        QTimer::singleShot(100, &server, [&server] { server.resumeAccepting(); });
    });
}
