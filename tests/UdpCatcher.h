// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

// Collects, in arrival order, every datagram to a port (0: one the OS picks),
// or with a group those sent to it; with each, when (ms on `clock`) and hops.
class UdpCatcher : public QObject
{
public:
    explicit UdpCatcher(quint16 port = 0, const QString &group = {})
    {
        clock.start();
        m_socket.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        if (!group.isEmpty())
            m_socket.joinMulticastGroup(QHostAddress(group));
        // A burst of a thousand datagrams arrives while nobody reads.
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
        connect(&m_socket, &QUdpSocket::readyRead, this, &UdpCatcher::datagrams);
    }
    quint16 port() const { return m_socket.localPort(); } // 0 unless bound
    const QByteArrayList &datagrams()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram d = m_socket.receiveDatagram();
            m_got.append(d.data());
            arrivals.append({clock.elapsed(), d.hopLimit()});
        }
        return m_got;
    }
    void clear() { datagrams(); m_got.clear(); arrivals.clear(); }

    QElapsedTimer clock;
    QList<std::pair<qint64, int>> arrivals;  // ms on `clock`, hop limit

private:
    QUdpSocket m_socket;
    QByteArrayList m_got;
};
