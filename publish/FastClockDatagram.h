// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "clock/ClockSnapshot.h"
#include "settings/FastClockFields.h"

// What the slave clocks of a module meeting are told: the plain-text datagram
// they already understand, one "key=value" line after the word "fastclock".
struct FastClockState
{
    QString name;
    QString ipAddress;
    quint16 ipPort = 0;
    QString text;
    bool active = false;
    int speed = 1;
    int secondsOfDay = 0;
    int intervalSeconds = 2;
};

// The clock as the slaves are to follow it, with the address of the web server
// beside it. Active only while the model time runs: a held time stands still.
// The speed is the one counted at, not one chosen that waits for Start. Name,
// text and interval are the settings' and are left to the multicast.
FastClockState fastClockStateOf(const ClockSnapshot &clock, const QString &ipAddress, quint16 ipPort);

// The datagram's text, each line ended by CR LF. Name and text are cleaned
// here as well, so no value can break the line structure. Characters are sent
// as UTF-8: plain ASCII is one byte per character, as the clocks' firmware
// reads it, and anything beyond ASCII keeps its meaning for clocks that show
// UTF-8 instead of turning into '?'.
QByteArray fastClockDatagram(const FastClockState &state);
