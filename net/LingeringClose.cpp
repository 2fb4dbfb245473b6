// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LingeringClose.h"

#include <QTcpSocket>

#include <sys/socket.h>

void LingeringClose::begin(QTcpSocket *socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    new LingeringClose(socket);
}

// Takes the socket's place among its parent's children, with the socket as
// its own child: they go together, and with that parent.
LingeringClose::LingeringClose(QTcpSocket *socket) : QObject(socket->parent()), m_socket(socket)
{
    socket->setParent(this);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &LingeringClose::finish);
    connect(socket, &QIODevice::readyRead, this, &LingeringClose::drop);
    connect(socket, &QIODevice::bytesWritten, this, &LingeringClose::flushed);
    connect(socket, &QAbstractSocket::disconnected, this, &LingeringClose::finish);
    connect(socket, &QAbstractSocket::errorOccurred, this, &LingeringClose::finish);
    m_deadline.start(FlushMs);
    flushed();
    drop();
}

// Qt's buffer must be empty first: the shutdown is made on the descriptor
// behind Qt's back, and would cut off what Qt still holds.
void LingeringClose::flushed()
{
    if (m_shutDown || m_socket->bytesToWrite() > 0)
        return;
    m_shutDown = true;
    if (::shutdown(int(m_socket->socketDescriptor()), SHUT_WR) != 0)
        return finish();
    m_deadline.start(LingerMs);
}

void LingeringClose::drop()
{
    if (!m_socket->isOpen())
        return;  // already finished
    m_dropped += m_socket->skip(m_socket->bytesAvailable());
    if (m_dropped > MaxDropped)
        finish();
}

LingeringClose::~LingeringClose()
{
    disconnect(m_socket, nullptr, this, nullptr);  // its abort as it goes is no news
}

void LingeringClose::finish()
{
    m_deadline.stop();
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    deleteLater();
}
