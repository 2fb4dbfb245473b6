// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QUdpSocket>

// Sends datagrams to one destination (an address, the broadcast address
// 255.255.255.255 or a multicast group): one datagram per send, never
// blocking. The socket is bound when the first datagram goes, to localPort or
// to a port the OS picks; what arrives on it is dropped unread.
class DatagramSender
{
public:
    // multicastTtl: how many routers a datagram to a group may cross (-1: the
    // OS's default of 1).
    DatagramSender(const QString &host, quint16 port, int multicastTtl = -1, quint16 localPort = 0);

    // False when the OS did not take the datagram, and *error says why.
    bool send(const QByteArray &datagram, QString *error = nullptr);

private:
    bool bind();

    QUdpSocket m_socket;
    QString m_host;
    QHostAddress m_address;
    quint16 m_port;
    int m_multicastTtl;
    quint16 m_localPort;
};
