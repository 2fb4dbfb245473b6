// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The limits of the fast-clock datagram's free-text values, shared by the
// settings that read them and the datagram that sends them.
namespace FastClockDatagram {

// Slave clocks pick their master by name and show the text on small
// displays; longer values are cut, counted in characters (code points).
constexpr int NameMaxLength = 20;
constexpr int TextMaxLength = 255;
// The longest address text there is (IPv6).
constexpr int AddressMaxLength = 45;

// A value as it may go into one line: line breaks and other control
// characters become spaces, then it is cut to maxLength characters.
QString cleanField(const QString &value, int maxLength);

}  // namespace FastClockDatagram
