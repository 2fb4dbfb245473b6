// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockSnapshot.h"

// The one way to drive the clock: the window's buttons and dialogs, the live
// page and the layout network all call these, so no controller has a way of
// driving the clock that the others lack. The clock engine implements it.
class ClockControl
{
public:
    // The stop marks a Stop sends to the remote clocks.
    static constexpr int StopBurst = 100;

    virtual ~ClockControl() = default;
    virtual ClockSnapshot snapshot() const = 0;
    virtual void start() = 0;                               // "Start Clock"
    // Halts the clock, and with it every publication, each announcing its own
    // stop: the broadcast with `stopBurst` stop marks (the exit passes its own).
    virtual void stop(int stopBurst) = 0;
    void stop() { stop(StopBurst); }                        // "Stop Clock"
    virtual void setSpeed(qint16 speed) = 0;                // an option of the speed dialog
    virtual void setTimeAndHold(int hour, int minute) = 0;  // the time dialog's Set, entries accepted
    // The session's model date from now on; the time and the state stay.
    virtual void setDate(const QDate &date) = 0;

    // A remote operator who asks for a speed means it now: while the clock
    // runs that is the window's two actions, the speed chosen and Start
    // pressed; in every other state only the choice, for the next Start.
    void chooseSpeedRemotely(qint16 speed)
    {
        const bool running = snapshot().running();
        setSpeed(speed);
        if (running)
            start();
    }
};
