// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/DatagramSender.h"

#include <QVariant>

DatagramSender::DatagramSender(const QString &host, quint16 port, int multicastTtl, quint16 localPort)
    : m_host(host)
    , m_address(host.trimmed())  // parsed once, not per datagram
    , m_port(port)
    , m_multicastTtl(multicastTtl)
    , m_localPort(localPort)
{
    QObject::connect(&m_socket, &QIODevice::readyRead, &m_socket, [this] {
        while (m_socket.hasPendingDatagrams())
            m_socket.readDatagram(nullptr, 0);
    });
}

bool DatagramSender::bind()
{
    if (m_socket.state() == QAbstractSocket::BoundState)
        return true;
    if (!m_socket.bind(QHostAddress::AnyIPv4, m_localPort))
        return false;
    if (m_multicastTtl >= 0)
        m_socket.setSocketOption(QAbstractSocket::MulticastTtlOption, m_multicastTtl);
    return true;
}

bool DatagramSender::send(const QByteArray &datagram, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_address.isNull())
        return fail(QStringLiteral("\"%1\" is not an IP address").arg(m_host));
    if (!bind())
        return fail(QStringLiteral("No UDP socket can be bound to port %1").arg(m_localPort));
    if (m_socket.writeDatagram(datagram, m_address, m_port) < 0)
        return fail(m_socket.errorString());
    return true;
}
