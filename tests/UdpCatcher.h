// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

// Collects, in arrival order, every datagram that reaches a port (0: one the
// OS picks).
class UdpCatcher : public QObject
{
public:
    explicit UdpCatcher(quint16 port = 0)
    {
        m_socket.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        // A burst of a thousand datagrams arrives while nobody reads.
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
        connect(&m_socket, &QUdpSocket::readyRead, this, &UdpCatcher::datagrams);
    }
    quint16 port() const { return m_socket.localPort(); } // 0 unless bound
    bool joinGroup(const char *group) { return m_socket.joinMulticastGroup(QHostAddress(QString::fromLatin1(group))); }
    const QByteArrayList &datagrams()
    {
        while (m_socket.hasPendingDatagrams())
            m_got.append(m_socket.receiveDatagram().data());
        return m_got;
    }
    void clear() { datagrams(); m_got.clear(); }

private:
    QUdpSocket m_socket;
    QByteArrayList m_got;
};
