// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/ClockEngine.h"

#include "clock/ClockTime.h"

#include <algorithm>
#include <cmath>

ClockEngine::ClockEngine(QObject *parent)
    : QObject(parent)
{
    // The model time must advance by one second for every period that has
    // passed, even when the event loop was held up by other work.
    m_timer1.setCatchUp(true);
    connect(&m_timer1, &Timer::ticked, this, &ClockEngine::tick);
    m_notice.setSingleShot(true);
    m_notice.setInterval(0);
    connect(&m_notice, &QTimer::timeout, this, [this] { emit changed(snapshot()); });
}

void ClockEngine::addFollower(ClockFollower &follower)
{
    connect(this, &ClockEngine::changed, this, [&follower](const ClockSnapshot &s) { follower.clockChanged(s); });
    connect(this, &ClockEngine::minuteChanged, this, [&follower](const ClockSnapshot &s) { follower.minuteChanged(s); });
}

int ClockEngine::periodFor(qint16 speed)
{
    const double n = speed < 1 ? 1.0 : double(speed);
    return std::max(1, int(std::nearbyint(1000.0 / n)));
}

void ClockEngine::tick()
{
    m_clockTime = ClockTimeMath::addOneSecond(m_clockTime);
    emit displayChanged(ClockTimeMath::displayText(m_clockTime));
    const int second = ClockTimeMath::secondsOfDay(m_clockTime);
    // One second past 23:59:59 is the next model day.
    if (second == 0 && m_modelDate.isValid())
        m_modelDate = m_modelDate.addDays(1);
    if (second % 60 == 0)
        emit minuteChanged(snapshot());
}

ClockSnapshot ClockEngine::snapshot() const
{
    ClockSnapshot s;
    s.state = m_state;
    s.clockTime = m_clockTime;
    s.secondsOfDay = ClockTimeMath::secondsOfDay(m_clockTime);
    s.chosenSpeed = m_clockSpeed;
    s.countedSpeed = countedSpeed();
    s.intervalMs = periodFor(s.countedSpeed);
    s.modelDate = m_modelDate;
    return s;
}

void ClockEngine::start()
{
    m_countedSpeed = m_clockSpeed;
    m_state = ClockState::Running;
    m_timer1.setInterval(periodFor(m_clockSpeed));
    for (ClockPublication *publication : m_publications)
        publication->startPublishing();
    noteChange();
}

void ClockEngine::stop(int stopBurst)
{
    m_state = ClockState::Stopped;
    m_timer1.setInterval(0);
    for (ClockPublication *publication : m_publications)
        publication->haltPublishing(stopBurst);
    noteChange();
}

void ClockEngine::setSpeed(qint16 n)
{
    m_clockSpeed = n;
    noteChange();
}

void ClockEngine::setTimeAndHold(int hour, int minute)
{
    m_clockTime = ClockTimeMath::timeOfDay(hour, minute);
    // Only a running clock is held: its broadcasts go on sending the time set.
    if (m_state == ClockState::Running)
        m_state = ClockState::Held;
    m_timer1.setInterval(0);
    noteChange();
}

void ClockEngine::setDate(const QDate &date)
{
    m_modelDate = date;
    noteChange();
}
