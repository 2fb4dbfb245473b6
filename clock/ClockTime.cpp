// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/ClockTime.h"

#include <cmath>

namespace ClockTimeMath {

namespace {
constexpr double kSecondsPerDay = 86400.0;
}  // namespace

QByteArray twoDigits(int n)
{
    return QByteArray::number(n).rightJustified(2, '0');
}

QByteArray timeOfDayText(int secondsOfDay)
{
    const int day = int(kSecondsPerDay);
    const int s = (secondsOfDay % day + day) % day;
    return twoDigits(s / 3600) + ':' + twoDigits(s / 60 % 60) + ':' + twoDigits(s % 60);
}

double oneSecond()
{
    return 1.0 / 24 / 60 / 60;
}

int secondsOfDay(double clockTime)
{
    if (!std::isfinite(clockTime))
        return 0;
    const double fraction = std::fabs(clockTime - std::trunc(clockTime));
    return int(std::llround(fraction * kSecondsPerDay) % 86400);
}

double addOneSecond(double clockTime)
{
    const double sum = clockTime + oneSecond();
    return std::round(sum * kSecondsPerDay) / kSecondsPerDay;
}

double timeOfDay(int hour, int minute)
{
    return (hour * 3600.0 + minute * 60.0) / kSecondsPerDay;
}

QString displayText(double clockTime)
{
    return QString::fromLatin1(timeOfDayText(secondsOfDay(clockTime)).left(5) + ' ');
}

QByteArray hhmm(double clockTime)
{
    return timeOfDayText(secondsOfDay(clockTime)).left(5).replace(':', "");
}

}  // namespace ClockTimeMath
