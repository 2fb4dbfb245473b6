// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/SocketErrors.h"

int SocketErrors::numberOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError: return ConnectionReset;
    case QAbstractSocket::HostNotFoundError: return HostNotFound;
    case QAbstractSocket::SocketAccessError: return AccessDenied;
    case QAbstractSocket::SocketResourceError: return NoBufferSpace;
    case QAbstractSocket::SocketTimeoutError: return TimedOut;
    case QAbstractSocket::DatagramTooLargeError: return MsgTooBig;
    case QAbstractSocket::NetworkError: return NetworkUnreachable;
    case QAbstractSocket::AddressInUseError: return AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError: return AddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError: return WrongProtocol;
    default: return NetworkDown;
    }
}
