// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

class QTcpServer;
class QTcpSocket;

// What a TCP server needs of its sockets beyond Qt's defaults.

// The most a connection holds for the program before the peer is made to
// wait: past it Qt stops reading from the system, and TCP's flow control
// holds the peer back instead of this process growing.
constexpr qint64 MaxUnreadBytes = 16 * 1024;

// An accepted connection, made ready to serve: its reads capped as above,
// and no Nagle delay. A server's answer leaves in pieces, each once the last
// has gone: Nagle's rule would hold each piece back until the peer's delayed
// acknowledgement.
void prepareServedSocket(QTcpSocket &socket);

// Running out of descriptors pauses Qt's accepting; the listener itself is
// fine, so it tries again a little later instead of going deaf for good.
void resumeAcceptingAfterErrors(QTcpServer &server);
