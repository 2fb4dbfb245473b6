// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the hour and minute typed into the time dialog, or sent from the live
// page, amount to. One set of rules and messages for both, so that a time the
// window refuses is refused from the web with the same words.
struct TimeEntry
{
    enum Outcome { Accepted, OutOfRange, NotWholeNumber };
    Outcome outcome = Accepted;
    QString message;  // for the user, unless accepted
    bool minuteAtFault = false;
    int hour = 0;
    int minute = 0;
};

// The hour is judged first; while it is refused the minute is not read.
TimeEntry readTimeEntry(const QString &hourText, const QString &minuteText);
