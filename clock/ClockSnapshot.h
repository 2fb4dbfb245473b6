// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QtGlobal>

// The clock's four states and what Timer1, Timer3 and Timer4 do in each:
// Idle (start-up: all at rest), Running (all running), Stopped (all at rest,
// after Stop), Held (a time was set while running: Timer1 at rest, the
// broadcast and the push go on sending the time that stands).
enum class ClockState { Idle, Running, Stopped, Held };

// The clock as it is at one moment: a plain value taken from the clock model,
// so that whoever tells it (a page, a datagram, the layout network) can be
// built and checked without a clock.
struct ClockSnapshot
{
    ClockState state = ClockState::Idle;
    double clockTime = 0.0;   // the model time as the engine keeps it (an OLE date)
    int secondsOfDay = 0;     // 0 to 86399
    qint16 chosenSpeed = 1;   // the N:1 last chosen; the next Start counts at it
    // The N:1 the master counts at: while Running, the speed of Timer1's
    // period; in every other state the chosen speed, which Start will take up.
    qint16 countedSpeed = 1;
    int intervalMs = 1000;    // one model second in real milliseconds at countedSpeed
    // The model date, when the session has one ([session] date=); null
    // otherwise, and then nothing about dates is told.
    QDate modelDate;

    bool running() const { return state == ClockState::Running; }
    bool held() const { return state == ClockState::Held; }
    // A speed chosen while running waits for the next Start.
    bool speedWaiting() const { return running() && chosenSpeed != countedSpeed; }
};
