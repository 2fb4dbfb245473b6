// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "net/TcpClient.h"
#include "publish/DccExClock.h"
#include "publish/PeerStatus.h"
#include "settings/ExtensionSettings.h"

#include <QObject>

// A DCC-EX EX-CommandStation's clock follows the master: "<JC mmmm rr>" over
// its TCP port at connect, at every change and at every new model minute
// while running, the rate 0 while stopped or held. The station acts only on
// a minute other than the last one it was given, and its WiThrottle clients
// count on from it, hence the word at every minute. What the station sends
// (its "<jC ...>" and every other broadcast) is read as lines and dropped.
class DccExClient : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    DccExClient(const ExtensionSettings::DccEx &settings, const ClockControl &clock, QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled(); }
    // Connects (and again whenever the station is lost); ignored when off.
    void start();
    // The master's last word, then the connection closes.
    void stop();
    PeerStatus &status() { return m_status; }
    TcpClient &station() { return m_station; }

    void clockChanged(const ClockSnapshot &clock) override;
    void minuteChanged(const ClockSnapshot &clock) override;

private:
    void tell(const ClockSnapshot &clock);

    ExtensionSettings::DccEx m_settings;
    const ClockControl &m_clock;
    TcpClient m_station;
    PeerStatus m_status;
    DccExClock::LineReader m_reader;
};
