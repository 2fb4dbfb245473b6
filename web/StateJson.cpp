// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/StateJson.h"

#include "clock/ClockTime.h"

#include <QLocale>

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

// Only when the session keeps a model date: "date":"1957-06-14","weekday":"Fri".
QByteArray modelDate(const ClockSnapshot &snapshot)
{
    if (!snapshot.modelDate.isValid())
        return {};
    return ",\"date\":\"" + snapshot.modelDate.toString(Qt::ISODate).toLatin1() + "\",\"weekday\":\""
           + QLocale::c().dayName(snapshot.modelDate.dayOfWeek(), QLocale::ShortFormat).toLatin1() + '"';
}
}  // namespace

// Written by hand rather than through QJsonObject, which sorts its members:
// the order is part of what the page and the tests may rely on.
QByteArray stateJson(const ClockSnapshot &snapshot, bool control)
{
    return "{\"time\":\"" + ClockTimeMath::timeOfDayText(snapshot.secondsOfDay) + '"' + modelDate(snapshot)
           + ",\"running\":" + boolean(snapshot.running())
           + ",\"held\":" + boolean(snapshot.held()) + ",\"speed\":" + QByteArray::number(snapshot.countedSpeed)
           + ",\"interval\":" + QByteArray::number(snapshot.intervalMs) + nextSpeed(snapshot)
           + ",\"control\":" + boolean(control) + '}';
}
