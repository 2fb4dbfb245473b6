#pragma once

#include "web/ClockSnapshot.h"

#include <QByteArray>

// The state as the live page reads it, one compact JSON object with its
// members always in the same order:
// {"time":"HH:MM:SS","running":true,"held":false,"speed":4,"interval":250,"control":true}
// A time of day outside one day is taken modulo a day.
QByteArray stateJson(const ClockSnapshot &snapshot);
