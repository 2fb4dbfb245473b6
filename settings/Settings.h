// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/OfferedSpeeds.h"

#include <QString>

#include <array>
#include <optional>

// The main window's settings as the record stores them (texts stay texts), plus
// the two flags about them that live only for the run. The model time and
// speed, the record's other two fields, belong to the clock engine.
struct Settings
{
    QString LPort;
    QString WebRoot;
    QString IndexHTML;
    QString RatioX1;
    QString RatioX2;
    QString RatioX3;
    QString RatioX4;
    QString RatioX5;
    QString RatioX6;
    QString RatioX8;
    bool FLog = false;
    bool DLog = false;
    bool LogC = false;
    bool LogE = false;

    // The seven trims, one for each offered speed, in the order of
    // OfferedSpeeds::All.
    std::array<QString *, 7> trims();
    // The trim of speed N, or null for a speed that has none.
    const QString *trimFor(int speed) const;

    // The port the web server listens on: LPort read as the record's numbers
    // are read, rounded to the nearest whole number (halves to even); none
    // when that is not a port number from 0 to 65535.
    std::optional<quint16> portNumber() const;

    // Not stored.
    bool Config = false;   // the configuration dialog exists
    bool LogOpen = false;  // the request log file is open
};
