// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/Z21Client.h"

#include <QDate>

#include <algorithm>

namespace {

// 0 Monday ... 6 Sunday, of the session's model date or else today.
int weekdayOf(const ClockSnapshot &clock)
{
    return (clock.modelDate.isValid() ? clock.modelDate : QDate::currentDate()).dayOfWeek() - 1;
}

}  // namespace

Z21Client::Z21Client(const ExtensionSettings::Z21 &settings, const ClockControl &clock, int silenceMs, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_station(QHostAddress(settings.host), settings.port)
    , m_status(QStringLiteral("Z21"), m_station.peerName(), true)
{
    m_refresh.setInterval(RefreshMs);
    m_silence.setSingleShot(true);
    m_silence.setInterval(silenceMs);
    connect(&m_refresh, &QTimer::timeout, this, &Z21Client::refresh);
    connect(&m_silence, &QTimer::timeout, this, [this, silenceMs] { m_status.silent(silenceMs); });
    connect(&m_station, &DatagramPeer::received, this, &Z21Client::heard);
}

void Z21Client::start()
{
    if (!isEnabled())
        return;
    m_status.begin();
    refresh();
    set(m_clock.snapshot());
    m_refresh.start();
    m_silence.start();
}

void Z21Client::stop()
{
    if (!m_refresh.isActive())
        return;
    set(m_clock.snapshot());
    send(Z21Clock::logoff());
    m_refresh.stop();
    m_silence.stop();
}

void Z21Client::clockChanged(const ClockSnapshot &clock)
{
    if (m_refresh.isActive() && !showsAlready(clock))
        set(clock);
}

// A change the Z21 cannot show (a speed chosen while running, waiting for
// Start) is no reason to set it: it writes the rate to its flash. While
// both run at the same rate, its time goes on as the master's does.
bool Z21Client::showsAlready(const ClockSnapshot &clock) const
{
    return m_told.rate == clock.countedSpeed && m_told.running == clock.running() && m_told.weekday == weekdayOf(clock)
           && (clock.running() || m_told.minute == clock.secondsOfDay / 60);
}

void Z21Client::minuteChanged(const ClockSnapshot &clock)
{
    if (m_setAtMinute && clock.running())
        set(clock);
}

// A failing send is told once, until one goes out again.
void Z21Client::send(const QByteArray &record)
{
    QString error;
    const bool sent = m_station.send(record, &error);
    if (!sent && !std::exchange(m_sendFailing, true))
        m_status.warn(QStringLiteral("Z21 %1: nothing can be sent to it: %2").arg(m_station.peerName(), error));
    m_sendFailing = !sent;
}

void Z21Client::set(const ClockSnapshot &clock)
{
    m_told = {clock.running(), clock.countedSpeed, weekdayOf(clock), clock.secondsOfDay / 60};
    send(Z21Clock::set(m_told.weekday, clock.secondsOfDay, clock.countedSpeed));
    send(clock.running() ? Z21Clock::start() : Z21Clock::stop());
    m_sinceSet.start();
    m_setAtMinute = clock.running() && clock.secondsOfDay % 60 != 0;
}

void Z21Client::refresh()
{
    send(Z21Clock::broadcastFlags());
    send(Z21Clock::query());
}

void Z21Client::heard(const QByteArray &datagram)
{
    const Z21Clock::Heard heard = Z21Clock::read(datagram);
    if (heard.records == 0 || !m_refresh.isActive())
        return;
    m_silence.start();
    const bool silentBefore = m_status.state() == PeerStatus::State::Silent;
    m_status.answered();
    const ClockSnapshot clock = m_clock.snapshot();
    // A Z21 back from a silence may have been switched off and on.
    if (silentBefore || (heard.clock && m_sinceSet.elapsed() >= SetGraceMs && differs(*heard.clock, clock)))
        set(clock);
}

bool Z21Client::differs(const Z21Clock::Report &report, const ClockSnapshot &clock) const
{
    constexpr int day = 86400;
    const int d = ((report.secondsOfDay - clock.secondsOfDay) % day + day) % day;
    return report.rate != clock.countedSpeed || report.stopped == clock.running() || std::min(d, day - d) > 60;
}
