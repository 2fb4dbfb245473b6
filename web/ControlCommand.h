// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/FormBody.h"

#include <QByteArray>
#include <QDate>

#include <optional>

// What a control form from the live page asks of the clock. Each action is
// one the window already offers: Start and Stop are its buttons, Set is the
// speed dialog's option and the time dialog's Set. A Set with both a speed and
// a time selects the speed first and then sets the time, as the dialogs do one
// after the other; like the time dialog, a time set leaves the clock held
// until the next Start.
struct ControlCommand
{
    enum class Action { Refused, Start, Stop, Set };
    Action action = Action::Refused;
    std::optional<qint16> speed;  // Set only
    std::optional<int> hour;      // Set only; present together with minute
    std::optional<int> minute;
    std::optional<QDate> date;    // Set only: the session's model date
    QByteArray reason;  // one line for the 400 answer, when refused
};

// Fields: action=start|stop|set, and for set speed=N, time=H:MM or HH:MM
// and date=YYYY-MM-DD, any of them. Anything else is refused with the reason, the time with the time
// dialog's own words when it is out of range.
ControlCommand readControlCommand(const FormBody &form);
