// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/BroadcastTime.h"

#include <algorithm>

namespace BroadcastTime {

quint16 timeSuffix(int hour, int minute)
{
    return quint16(std::clamp(hour, 0, 23) << 8 | std::clamp(minute, 0, 59));
}

quint16 timeSuffix(int secondsOfDay)
{
    const int s = std::clamp(secondsOfDay, 0, 86399);
    return timeSuffix(s / 3600, s / 60 % 60);
}

quint16 dateSuffix(const QDate &date)
{
    return quint16(0x2000 | date.month() << 8 | date.day());
}

quint16 yearSuffix(const QDate &date)
{
    return quint16(0x3000 | std::clamp(date.year(), 0, 4095));
}

quint16 rateSuffix(int quarters)
{
    return quint16(0x4000 | (std::clamp(quarters, -2048, 2047) & 0xFFF));
}

Decoded decode(quint16 suffix)
{
    Decoded d;
    const bool set = suffix & SetBit;
    const int low = suffix & 0x0FFF;
    switch (suffix & 0x7000) {
    case 0x0000:
    case 0x1000:
        d.hour = (suffix >> 8) & 0x1F;
        d.minute = suffix & 0xFF;
        if (d.hour <= 23 && d.minute <= 59)
            d.kind = set ? Decoded::SetTime : Decoded::ReportTime;
        else if (set)
            d.kind = Decoded::BadSetTime;
        return d;
    case 0x2000:
        d.month = (suffix >> 8) & 0x0F;
        d.day = suffix & 0xFF;
        if (d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31)
            d.kind = set ? Decoded::SetDate : Decoded::ReportDate;
        else if (set)
            d.kind = Decoded::BadSetDate;
        return d;
    case 0x3000:
        d.year = low;
        d.kind = set ? Decoded::SetYear : Decoded::ReportYear;
        return d;
    case 0x4000:
        d.quarters = low & 0x800 ? low - 0x1000 : low;
        d.kind = set ? Decoded::SetRate : Decoded::ReportRate;
        return d;
    case 0x7000:
        if (!set)
            return d;
        switch (suffix) {
        case Query: d.kind = Decoded::QueryClock; break;
        case Stop: d.kind = Decoded::StopClock; break;
        case Start: d.kind = Decoded::StartClock; break;
        case DateRollover: d.kind = Decoded::RollDate; break;
        default: break;
        }
        return d;
    default:
        return d;
    }
}

}  // namespace BroadcastTime
