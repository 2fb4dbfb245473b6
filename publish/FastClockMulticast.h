// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
class FastClockMulticast : public QObject
{
    Q_OBJECT
public:
    // The clock as it is now. Name, text and interval come from the settings
    // and replace whatever the source puts there.
    using StateSource = std::function<FastClockState()>;

    FastClockMulticast(const ExtensionSettings::FastClock &settings, StateSource source,
                       QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled; }
    bool isRunning() const { return m_running; }

    // At program start: the first datagram, and the grid starts.
    void start();
    // On every start, stop, speed change and time set: a datagram now, and the
    // grid starts again from now. Ignored before start() and after stop().
    void changed();
    // At an orderly exit: one last datagram with active=no; nothing after it.
    void stop();

signals:
    // The first failing send after one that went out (or after start()).
    void sendFailed(const QString &reason);

private:
    void send(FastClockState state);
    void restartGrid();

    ExtensionSettings::FastClock m_settings;
    StateSource m_source;
    DatagramSender m_socket;
    Timer m_timer;
    bool m_running = false;
    bool m_failing = false;
};
