// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/AlarmWatch.h"

#include "clock/ClockControl.h"

AlarmWatch::AlarmWatch(const std::vector<Alarm> &alarms, ClockControl &clock, QObject *parent)
    : QObject(parent)
    , m_alarms(alarms)
    , m_clock(clock)
{
}

void AlarmWatch::clockChanged(const ClockSnapshot &clock)
{
    m_counted = clock.secondsOfDay;
}

void AlarmWatch::minuteChanged(const ClockSnapshot &clock)
{
    const int from = m_counted;
    m_counted = clock.secondsOfDay;
    if (from < 0)
        return;
    bool stop = false;
    for (int i : Alarms::crossed(from, clock.secondsOfDay, m_alarms)) {
        emit fired(m_alarms[size_t(i)]);
        stop = stop || m_alarms[size_t(i)].stop;
    }
    if (stop)
        m_clock.stop();
}
