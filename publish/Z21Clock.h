// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <optional>

// The Z21 LAN protocol's records for its model clock, as plain functions on
// bytes. A record is DataLen (2 bytes, little-endian, the record's whole
// length) Header (2, LE) Data; the clock's records end in the XOR of the
// data bytes before it.
namespace Z21Clock {

QByteArray broadcastFlags();  // LAN_SET_BROADCASTFLAGS with the fast clock's flag 0x00000010
QByteArray logoff();          // LAN_LOGOFF
QByteArray query();           // LAN_FAST_CLOCK_CONTROL: the clock asked for, answered with its data
// LAN_FAST_CLOCK_CONTROL, set: weekday 0 = Monday ... 6 = Sunday, hour,
// minute, the rate 1 to 63.
QByteArray set(int weekday, int secondsOfDay, int rate);
QByteArray start();
QByteArray stop();

// LAN_FAST_CLOCK_DATA: the clock as the Z21 counts it.
struct Report
{
    int weekday = 0;
    int secondsOfDay = 0;
    int rate = 0;
    bool stopped = false;
};
// What one datagram holds: how many records fit in it whole, and the last
// readable clock report among them (its XOR right, its fields in range).
// Nothing is read past the datagram's end.
struct Heard
{
    int records = 0;
    std::optional<Report> clock;
};
Heard read(const QByteArray &datagram);

}  // namespace Z21Clock
