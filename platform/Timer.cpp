// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Timer.h"

#include <algorithm>

Timer::Timer(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_clock.start();
    connect(&m_timer, &QTimer::timeout, this, &Timer::onTimeout);
}

void Timer::setInterval(int ms)
{
    ms = std::max(ms, 0);
    if (ms == m_interval && isRunning())
        return;
    m_interval = ms;
    restart();
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

void Timer::restart()
{
    ++m_generation;
    m_origin = m_clock.elapsed();
    m_ticksDone = 0;
    arm();
}

// Grid points that have come due and are not handled yet.
qint64 Timer::dueTicks() const
{
    if (!isRunning())
        return 0;
    return (m_clock.elapsed() - m_origin) / m_interval - m_ticksDone;
}

void Timer::arm()
{
    if (!isRunning()) {
        m_timer.stop();
        return;
    }
    const qint64 next = m_origin + (m_ticksDone + 1) * m_interval;
    m_timer.start(int(std::max<qint64>(0, next - m_clock.elapsed())));
}

void Timer::onTimeout()
{
    while (dueTicks() > 0) {
        const quint64 generation = m_generation;
        ++m_ticksDone;
        emit ticked();
        if (generation != m_generation || !m_catchUp)
            break;
    }
    if (!m_catchUp && dueTicks() > 0)
        m_ticksDone += dueTicks();
    arm();
}
