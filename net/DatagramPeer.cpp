// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/DatagramPeer.h"

#include "net/DottedAddress.h"

#include <QTimer>

DatagramPeer::DatagramPeer(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent)
    , m_address(address)
    , m_port(port)
{
    connect(&m_socket, &QIODevice::readyRead, this, &DatagramPeer::readSome);
}

bool DatagramPeer::send(const QByteArray &datagram, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const bool v4 = m_address.protocol() == QAbstractSocket::IPv4Protocol;
    if (m_socket.state() != QAbstractSocket::BoundState
        && !m_socket.bind(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0))
        return fail(m_socket.errorString());
    if (m_socket.writeDatagram(datagram, m_address, m_port) < 0)
        return fail(m_socket.errorString());
    return true;
}

QString DatagramPeer::peerName() const
{
    return hostAndPort(m_address.toString(), m_port);
}

void DatagramPeer::readSome()
{
    QByteArray buffer(MaxDatagramBytes, Qt::Uninitialized);
    for (int n = 0; n < MaxPerPass && m_socket.hasPendingDatagrams(); ++n) {
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = m_socket.readDatagram(buffer.data(), buffer.size(), &from, &fromPort);
        if (size >= 0 && fromPort == m_port && from.isEqual(m_address, QHostAddress::ConvertV4MappedToIPv4))
            emit received(buffer.left(size));
    }
    // The rest waits for the next pass, after the timers that are due.
    if (m_socket.hasPendingDatagrams())
        QTimer::singleShot(0, this, &DatagramPeer::readSome);
}
