// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/StateJson.h"

#include "clock/ClockTime.h"

namespace {
QByteArray boolean(bool b)
{
    return b ? "true" : "false";
}
// Only while a speed chosen during a run waits for the next Start.
QByteArray nextSpeed(const ClockSnapshot &snapshot)
{
    return snapshot.speedWaiting() ? ",\"nextSpeed\":" + QByteArray::number(snapshot.chosenSpeed) : QByteArray();
}
}  // namespace

// Written by hand rather than through QJsonObject, which sorts its members:
// the order is part of what the page and the tests may rely on.
QByteArray stateJson(const ClockSnapshot &snapshot, bool control)
{
    return "{\"time\":\"" + ClockTimeMath::timeOfDayText(snapshot.secondsOfDay) + "\",\"running\":" + boolean(snapshot.running())
           + ",\"held\":" + boolean(snapshot.held()) + ",\"speed\":" + QByteArray::number(snapshot.countedSpeed)
           + ",\"interval\":" + QByteArray::number(snapshot.intervalMs) + nextSpeed(snapshot)
           + ",\"control\":" + boolean(control) + '}';
}
