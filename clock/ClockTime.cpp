// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/ClockTime.h"

#include <cmath>

namespace ClockTimeMath {

namespace {
constexpr double kSecondsPerDay = 86400.0;

QString twoDigitsPair(double clockTime, QChar separator)
{
    const int s = secondsOfDay(clockTime);
    const QString hh = QStringLiteral("%1").arg(s / 3600, 2, 10, QLatin1Char('0'));
    const QString mm = QStringLiteral("%1").arg(s % 3600 / 60, 2, 10, QLatin1Char('0'));
    return separator.isNull() ? hh + mm : hh + separator + mm;
}
}  // namespace

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
    return twoDigitsPair(clockTime, u':') + u' ';
}

QByteArray hhmm(double clockTime)
{
    return twoDigitsPair(clockTime, QChar()).toLatin1();
}

}  // namespace ClockTimeMath
