#pragma once

#include "web/ClockSnapshot.h"

// What the live page may see of the clock and do with it. The main window
// implements it with the very handlers of its own button and dialogs, so the
// web adds no way of driving the clock that the window does not have.
class ClockControl
{
public:
    virtual ~ClockControl() = default;
    virtual ClockSnapshot clockSnapshot() const = 0;
    virtual void startClock() = 0;                   // "Start Clock"
    virtual void stopClock() = 0;                    // "Stop Clock"
    virtual void setSpeed(qint16 speed) = 0;      // an option of the speed dialog
    virtual void setTimeAndHold(int hour, int minute) = 0;  // the time dialog's Set, entries accepted
};
