// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/GridConnect.h"
#include "net/TcpClient.h"

// A client of a GridConnect TCP hub (JMRI's or OpenMRN's, port 12021 by
// default): the connection kept up as TcpClient keeps it, whole frames in and
// out, and the person running the program told when the hub is lost and when
// it is there (again). A frame being read costs at most
// GridConnect::MaxFrameLength bytes.
class GridConnectClient : public TcpClient
{
    Q_OBJECT
public:
    GridConnectClient(const QString &host, quint16 port, QObject *parent = nullptr);

    // Writes the frame after those before it; dropped while not connected.
    void send(const CanFrame &frame) { TcpClient::send(GridConnect::encode(frame)); }

signals:
    void frameReceived(const CanFrame &frame);
    // One line each for the person running the program.
    void hubLost(const QString &text);
    void hubReached(const QString &text);

private:
    void readFrames(const QByteArray &bytes);

    GridConnect::Reader m_reader;
};
