// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ServerSockets.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <linux/sockios.h>
#include <sys/ioctl.h>

void prepareServedSocket(QTcpSocket &socket)
{
    socket.setReadBufferSize(MaxUnreadBytes);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

qint64 unsentBytes(const QTcpSocket &socket)
{
    int queued = 0;
    if (::ioctl(int(socket.socketDescriptor()), SIOCOUTQ, &queued) != 0)
        queued = 0;
    return socket.bytesToWrite() + queued;
}

void resumeAcceptingAfterErrors(QTcpServer &server)
{
    QObject::connect(&server, &QTcpServer::acceptError, &server, [&server] {
        QTimer::singleShot(100, &server, [&server] { server.resumeAccepting(); });
    });
}
