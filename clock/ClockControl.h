// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockSnapshot.h"

// What a remote controller (the live page, the layout network) may see of the
// clock and do with it. The main window implements it with the very handlers
// of its own buttons and dialogs, so no remote adds a way of driving the clock
// that the window does not have.
class ClockControl
{
public:
    virtual ~ClockControl() = default;
    virtual ClockSnapshot clockSnapshot() const = 0;
    virtual void startClock() = 0;                          // "Start Clock"
    virtual void stopClock() = 0;                           // "Stop Clock"
    virtual void setSpeed(qint16 speed) = 0;                // an option of the speed dialog
    virtual void setTimeAndHold(int hour, int minute) = 0;  // the time dialog's Set, entries accepted

    // A remote operator who asks for a speed means it now: while the clock
    // runs that is the window's two actions, the speed chosen and Start
    // pressed; in every other state only the choice, for the next Start.
    void chooseSpeedRemotely(qint16 speed)
    {
        const bool running = clockSnapshot().running();
        setSpeed(speed);
        if (running)
            startClock();
    }
};
