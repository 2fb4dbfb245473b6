// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "net/DatagramSender.h"
#include "platform/Timer.h"
#include "publish/FastClockDatagram.h"
#include "settings/ExtensionSettings.h"

#include <QObject>

#include <functional>

// Tells the slave clocks of a module meeting the time: one datagram to the
// multicast group every interval on a steady grid, one at once whenever the
// clock changes, and a last one saying "stopped" at exit. When the settings
// leave it off it sends nothing and opens no socket.
//
// A send that fails (a network that refuses multicast, no route) never stops
// anything: it is reported once, and the next interval tries again.
class FastClockMulticast : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    // What a snapshot of the clock tells the slaves. Name, text and interval
    // come from the settings and replace whatever it puts there.
    using StateOf = std::function<FastClockState(const ClockSnapshot &clock)>;

    // The grid's datagrams tell the clock as it is at each of them.
    FastClockMulticast(const ExtensionSettings::FastClock &settings, const ClockControl &clock, StateOf stateOf,
                       QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled; }
    bool isRunning() const { return m_running; }

    // At program start: the first datagram, and the grid starts.
    void start();
    // On every start, stop, speed change and time set: a datagram now, and the
    // grid starts again from now. Ignored before start() and after stop().
    void clockChanged(const ClockSnapshot &clock) override;
    // At an orderly exit: one last datagram with active=no; nothing after it.
    void stop();

signals:
    // The first failing send after one that went out (or after start()).
    void sendFailed(const QString &reason);

private:
    void send(FastClockState state);
    void restartGrid();

    ExtensionSettings::FastClock m_settings;
    const ClockControl &m_clock;
    StateOf m_stateOf;
    DatagramSender m_socket;
    Timer m_timer;
    bool m_running = false;
    bool m_failing = false;
};
