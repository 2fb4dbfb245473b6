// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUdpSocket>

// Datagrams to and from one station (a Z21 command station) at one address
// and port, over a socket bound when the first datagram goes. Of what arrives
// only datagrams from that address and port are handed on, each cut to
// MaxDatagramBytes; the rest are read and dropped. One pass of the event loop
// reads at most MaxPerPass datagrams, so that a flood neither grows memory nor
// holds up the clock's timers.
class DatagramPeer : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxDatagramBytes = 1472;  // what one Ethernet frame carries
    static constexpr int MaxPerPass = 64;

    DatagramPeer(const QHostAddress &address, quint16 port, QObject *parent = nullptr);

    // False when the OS did not take the datagram, and *error says why.
    bool send(const QByteArray &datagram, QString *error = nullptr);
    // "address:port", for messages.
    QString peerName() const;

signals:
    void received(const QByteArray &datagram);

private:
    void readSome();

    QUdpSocket m_socket;
    QHostAddress m_address;
    quint16 m_port;
};
