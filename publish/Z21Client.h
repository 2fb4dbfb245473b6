// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "net/DatagramPeer.h"
#include "publish/PeerStatus.h"
#include "publish/Z21Clock.h"
#include "settings/ExtensionSettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// A Z21's model clock follows the master over the Z21 LAN protocol (UDP).
// The Z21 runs its own clock from a set (to the minute, with a rate of 1 to
// 63) and a start or stop, and reports it to the clients that asked for the
// fast clock's broadcasts. So: at start and every RefreshMs the broadcast
// flags (which also keep the program in the Z21's list of clients, which
// drops one silent for a minute) and a query of its clock; a set and a start
// or stop at start, at every change, when it answers again after a silence,
// and when a report differs from the master (more than a model minute away,
// another rate or running state; never within SetGraceMs of a set, when a
// report may be older than the set). A set in the middle of a running minute
// leaves the Z21 counting from the minute's start, so it is set once more at
// the next minute. No more: the Z21 stores the rate in its flash.
//
// It answers or not: nothing from it for the silence given (by default
// twice RefreshMs) is "no answer since" the last word from it.
class Z21Client : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 50000;
    static constexpr int SetGraceMs = 2000;

    Z21Client(const ExtensionSettings::Z21 &settings, const ClockControl &clock, int silenceMs = 2 * RefreshMs,
              QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled(); }
    void start();
    // The master's last word, then LAN_LOGOFF.
    void stop();
    PeerStatus &status() { return m_status; }

    void clockChanged(const ClockSnapshot &clock) override;
    void minuteChanged(const ClockSnapshot &clock) override;

private:
    void send(const QByteArray &record);
    void set(const ClockSnapshot &clock);
    bool showsAlready(const ClockSnapshot &clock) const;
    void refresh();
    void heard(const QByteArray &datagram);
    bool differs(const Z21Clock::Report &report, const ClockSnapshot &clock) const;

    ExtensionSettings::Z21 m_settings;
    const ClockControl &m_clock;
    DatagramPeer m_station;
    PeerStatus m_status;
    QTimer m_refresh;
    QTimer m_silence;
    QElapsedTimer m_sinceSet;
    struct Told
    {
        bool running = false;
        int rate = 0;  // 0: nothing set yet
        int weekday = 0;
        int minute = 0;
    } m_told;
    bool m_setAtMinute = false;
    bool m_sendFailing = false;
};
