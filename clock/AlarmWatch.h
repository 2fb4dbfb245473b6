// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/Alarms.h"
#include "clock/ClockFollower.h"

#include <QObject>

#include <vector>

class ClockControl;

// Follows the counted model time and fires each alarm it reaches: on every
// new model minute, the alarms between the last time counted and this one.
// A time set, a start or a stop only moves the starting point, so a time set
// past an alarm does not fire it. An alarm with "stop" then stops the clock
// through ClockControl, as the Stop button does.
class AlarmWatch : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    AlarmWatch(const std::vector<Alarm> &alarms, ClockControl &clock, QObject *parent = nullptr);

    void clockChanged(const ClockSnapshot &clock) override;
    void minuteChanged(const ClockSnapshot &clock) override;

signals:
    // Told before the clock stops for it, so that its word comes first.
    void fired(const Alarm &alarm);

private:
    std::vector<Alarm> m_alarms;
    ClockControl &m_clock;
    int m_counted = -1;  // seconds of the day last counted; none before the first change
};
