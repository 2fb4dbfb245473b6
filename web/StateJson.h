// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockSnapshot.h"

#include <QByteArray>

// The state as the live page reads it, one compact JSON object with its
// members always in the same order:
// {"time":"HH:MM:SS","running":true,"held":false,"speed":4,"interval":250,"control":true}
// `speed` and `interval` are what the master counts at; while a speed chosen
// during a run waits for the next Start, "nextSpeed":N follows `interval`; `control` says
// whether a control password is set. When the session keeps a model date,
// "date":"1957-06-14","weekday":"Fri" follow `time`. A time of day outside one day is taken
// modulo a day.
QByteArray stateJson(const ClockSnapshot &snapshot, bool control);
