#pragma once

#include <QByteArrayList>
#include <QNetworkDatagram>
#include <QUdpSocket>

// Collects every datagram that reaches one port, in arrival order.
class UdpCatcher : public QObject
{
public:
    explicit UdpCatcher(quint16 port)
    {
        m_socket.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        // Bursts of a thousand datagrams must not overflow the queue.
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
        connect(&m_socket, &QUdpSocket::readyRead, this, [this] { drain(); });
    }
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    QByteArrayList &datagrams()
    {
        drain();
        return m_datagrams;
    }
    int count() { return int(datagrams().size()); }
    void clear()
    {
        drain();
        m_datagrams.clear();
    }

private:
    void drain()
    {
        while (m_socket.hasPendingDatagrams())
            m_datagrams.append(m_socket.receiveDatagram().data());
    }
    QUdpSocket m_socket;
    QByteArrayList m_datagrams;
};
