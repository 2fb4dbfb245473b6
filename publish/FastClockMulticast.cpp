// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/FastClockMulticast.h"

#include <algorithm>
#include <utility>

FastClockMulticast::FastClockMulticast(const ExtensionSettings::FastClock &settings, const ClockControl &clock,
                                       StateOf stateOf, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_stateOf(std::move(stateOf))
    , m_socket(settings.group, settings.port, settings.ttl)
{
    m_settings.name = FastClockDatagram::cleanField(m_settings.name, FastClockDatagram::NameMaxLength);
    m_settings.text = FastClockDatagram::cleanField(m_settings.text, FastClockDatagram::TextMaxLength);
    // The reader keeps it in range; the grid must never be 0 (off) or absurd.
    m_settings.intervalSeconds = std::clamp(m_settings.intervalSeconds, 1, 15);
    connect(&m_timer, &Timer::ticked, this, [this] { send(m_stateOf(m_clock.snapshot())); });
}

void FastClockMulticast::start()
{
    if (!m_settings.enabled || m_running)
        return;
    m_running = true;
    m_failing = false;
    clockChanged(m_clock.snapshot());
}

void FastClockMulticast::clockChanged(const ClockSnapshot &clock)
{
    if (!m_running)
        return;
    send(m_stateOf(clock));
    restartGrid();
}

void FastClockMulticast::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_timer.setInterval(0);
    FastClockState last = m_stateOf(m_clock.snapshot());
    last.active = false;
    send(last);
}

// Setting the period a running Timer already has keeps its old grid.
void FastClockMulticast::restartGrid()
{
    m_timer.setInterval(0);
    m_timer.setInterval(m_settings.intervalSeconds * 1000);
}

void FastClockMulticast::send(FastClockState state)
{
    state.name = m_settings.name;
    state.text = m_settings.text;
    state.intervalSeconds = m_settings.intervalSeconds;
    QString reason;
    if (m_socket.send(fastClockDatagram(state), &reason)) {
        m_failing = false;
        return;
    }
    if (std::exchange(m_failing, true))
        return;
    const QString retry = m_running ? QStringLiteral("; trying again every %1 s").arg(m_settings.intervalSeconds)
                                    : QString();
    emit sendFailed(QStringLiteral("fast-clock multicast to %1:%2 failed: %3%4")
                        .arg(m_settings.group, QString::number(m_settings.port), reason, retry));
}
