// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockSnapshot.h"

// Whoever tells the clock beyond the publications that run with its timers:
// the live page's streams, the slave clocks' multicast, the layout network.
// Each takes the snapshot it is handed, never asks back.
class ClockFollower
{
public:
    virtual ~ClockFollower() = default;
    // Start, Stop, a speed or a time set, once the handler that made them has
    // run to its end.
    virtual void clockChanged(const ClockSnapshot &clock) = 0;
    // A tick brought a new model minute.
    virtual void minuteChanged(const ClockSnapshot &) {}
};
