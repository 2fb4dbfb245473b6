// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSocket>

// The numbers the program's users know from the request log's error lines:
// the platform's socket error numbers, whatever the system below reports.
namespace SocketErrors {

enum Number : int {
    AccessDenied = 10013,
    MsgTooBig = 10040,
    AddressInUse = 10048,
    AddressNotAvailable = 10049,
    NetworkDown = 10050,
    NetworkUnreachable = 10051,
    ConnectionReset = 10054,
    NoBufferSpace = 10055,
    TimedOut = 10060,
    ConnectionRefused = 10061,
    WrongProtocol = 40026,
    HostNotFound = 11001,
};

// The number a Qt socket error is logged with.
int numberOf(QAbstractSocket::SocketError error);

}  // namespace SocketErrors
