// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QtGlobal>

// The OpenLCB Broadcast Time protocol's event IDs: the clock's six-byte ID
// followed by a 16-bit suffix. The low half of the suffixes reports (time,
// date, year, rate), the half with bit 15 set asks the clock generator to set
// them; F000 to F003 are Query, Stop, Start and Date Rollover.
namespace BroadcastTime {

enum Suffix : quint16 {
    Query = 0xF000,
    Stop = 0xF001,
    Start = 0xF002,
    DateRollover = 0xF003,
    SetBit = 0x8000,
};

// 0x0000 + hour << 8 + minute; 0x2000 + month << 8 + day; 0x3000 + year
// (0 to 4095); 0x4000 + the rate in quarters as 12-bit two's complement (speed
// N:1 is 4N: 1:1 is 4004, 8:1 is 4020).
quint16 timeSuffix(int hour, int minute);
quint16 timeSuffix(int secondsOfDay);
quint16 dateSuffix(const QDate &date);
quint16 yearSuffix(const QDate &date);
quint16 rateSuffix(int quarters);
inline quint64 event(quint64 clockId, quint16 suffix) { return clockId << 16 | suffix; }

struct Decoded
{
    enum Kind {
        Unknown,
        ReportTime, ReportDate, ReportYear, ReportRate,
        SetTime, SetDate, SetYear, SetRate,
        QueryClock, StopClock, StartClock, RollDate,
        BadSetTime, BadSetDate,  // a set whose fields are out of range
    };
    Kind kind = Unknown;
    int hour = 0, minute = 0;  // time
    int month = 0, day = 0;    // date
    int year = 0;
    int quarters = 0;          // rate
};
// Out-of-range fields (hour 24, month 13, ...) decode as Unknown in a
// report and as BadSetTime or BadSetDate in a set, with the fields as sent.
Decoded decode(quint16 suffix);

}  // namespace BroadcastTime
