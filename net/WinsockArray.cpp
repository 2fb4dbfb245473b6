// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/WinsockArray.h"

WinsockArray::WinsockArray(QObject *parent) : QObject(parent)
{
    auto *first = new Winsock(this);
    m_elements.push_back(first);
    wire(0, first);
}

Winsock *WinsockArray::element(int index) const
{
    if (index < 0 || index > ubound())
        return nullptr;
    return m_elements[static_cast<size_t>(index)];
}

Winsock *WinsockArray::load(int index)
{
    if (index < 1 || element(index))
        return nullptr;
    const Winsock *first = m_elements.front();
    auto *socket = new Winsock(this);
    socket->setProtocol(first->protocol());
    socket->setLocalPort(first->localPort());
    socket->setRemoteHost(first->remoteHost());
    socket->setRemotePort(first->remotePort());
    if (index > ubound())
        m_elements.resize(static_cast<size_t>(index) + 1, nullptr);
    m_elements[static_cast<size_t>(index)] = socket;
    wire(index, socket);
    return socket;
}

void WinsockArray::wire(int index, Winsock *socket)
{
    connect(socket, &Winsock::connectionRequested, this,
            [this, index](qintptr requestId) { emit connectionRequested(index, requestId); });
    connect(socket, &Winsock::dataArrived, this,
            [this, index](qint64 bytesTotal) { emit dataArrived(index, bytesTotal); });
    connect(socket, &Winsock::sendProgressed, this, [this, index](qint64 sent, qint64 remaining) {
        emit sendProgressed(index, sent, remaining);
    });
    connect(socket, &Winsock::sendCompleted, this, [this, index] { emit sendCompleted(index); });
    connect(socket, &Winsock::peerClosed, this, [this, index] { emit peerClosed(index); });
    connect(socket, &Winsock::errorOccurred, this, [this, index](int number, const QString &description) {
        emit errorOccurred(index, number, description);
    });
}
