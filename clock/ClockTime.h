// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The model time is an OLE Automation date: days since 30 December 1899, the
// fraction being the time of day. These helpers keep the arithmetic in one
// place.
namespace ClockTimeMath {

// One second as a fraction of a day, divided step by step as the clock has
// always computed it.
double oneSecond();

// The time of day rounded to the nearest whole second, 0 to 86399. Negative
// dates count their fraction away from zero, as OLE dates do.
int secondsOfDay(double clockTime);

// clockTime + one second, snapped to the whole second so that rounding error
// cannot pile up however long the clock runs.
double addOneSecond(double clockTime);

// hour:minute:00 of day 0.
double timeOfDay(int hour, int minute);

// A number below 100 as two digits: 7 gives "07".
QByteArray twoDigits(int n);

// "HH:MM:SS" of a number of seconds into the day; a value outside one day
// (none comes from the clock) is taken modulo the day.
QByteArray timeOfDayText(int secondsOfDay);

// "hh:mm " for the large display: seconds are cut, not rounded into the minute.
QString displayText(double clockTime);

// "hhmm" for the remote clocks.
QByteArray hhmm(double clockTime);

}  // namespace ClockTimeMath
