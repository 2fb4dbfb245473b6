// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QString>

// Addresses as the program shows and logs them: dotted IPv4.

// An IPv4 address, also one that came through an IPv6 socket, in dotted
// form; any other address as Qt writes it.
QString dotted(const QHostAddress &address);

// A peer as messages name it: "host:port", "[host]:port" for an IPv6 address.
QString hostAndPort(const QString &host, quint16 port);

// This machine's address for the window's address line: the first IPv4
// address of the first interface that is up, running and not loopback;
// 127.0.0.1 without one.
QString machineIPv4();
