// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/DccExClient.h"

DccExClient::DccExClient(const ExtensionSettings::DccEx &settings, const ClockControl &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_station(settings.host, settings.port)
    , m_status(QStringLiteral("DCC-EX"), m_station.peerName())
{
    connect(&m_station, &TcpClient::connected, this, [this] {
        m_reader = DccExClock::LineReader();
        tell(m_clock.snapshot());
    });
    // Nothing the station says changes the clock: its lines are read and dropped.
    connect(&m_station, &TcpClient::received, this, [this](const QByteArray &bytes) { m_reader.feed(bytes); });
    connect(&m_station, &TcpClient::lost, &m_status, &PeerStatus::lost);
    connect(&m_station, &TcpClient::reached, &m_status, &PeerStatus::reached);
}

void DccExClient::start()
{
    if (!isEnabled())
        return;
    m_status.begin();
    m_station.start();
}

// The station counts on by itself: it hears that the master stopped before it goes.
void DccExClient::stop()
{
    tell(m_clock.snapshot());
    m_station.stop();
}

void DccExClient::clockChanged(const ClockSnapshot &clock)
{
    tell(clock);
}

void DccExClient::minuteChanged(const ClockSnapshot &clock)
{
    if (clock.running())
        tell(clock);
}

void DccExClient::tell(const ClockSnapshot &clock)
{
    m_station.send(DccExClock::command(clock.secondsOfDay, clock.running() ? clock.countedSpeed : 0));
}
