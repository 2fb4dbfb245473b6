// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockPublication.h"
#include "net/DatagramSender.h"
#include "platform/Timer.h"

#include <QObject>

class ClockEngine;
struct Settings;

// Tells the remote clocks on the LAN what to show: the model time as "hhmm"
// to port 7791 and the current speed's tick interval (or the stop mark "0")
// to port 7792, all to the limited broadcast address.
class TimeBroadcast : public QObject, public ClockPublication
{
    Q_OBJECT
public:
    static inline const QString BroadcastAddress = QStringLiteral("255.255.255.255");
    static constexpr quint16 TimePort = 7791;
    static constexpr quint16 RatePort = 7792;
    // NOTE: the clock asks for "as often as the timer allows", which on the
    // platform the remote clocks were built against meant every 10 ms: 100
    // pairs a second. Broadcast frames go out at the slowest Wi-Fi rate, and a
    // thousand a second would swamp the clocks on Wi-Fi.
    static constexpr int TickPeriodMs = 10;

    TimeBroadcast(const ClockEngine &clock, const Settings &settings, QObject *parent = nullptr);

    Timer &timer3() { return m_timer3; }
    const Timer &timer3() const { return m_timer3; }
    qint32 Ratio() const { return m_ratio; }

    // Tells every remote clock that the clock is stopped (1000 stop marks).
    void SetUpBroadcast();
    void SendStopBurst(int count);
    void StartBroadcast();
    void HaltBroadcast();
    void BroadcastTick();
    void startPublishing() override { StartBroadcast(); }
    // Every timer at rest before the stop marks go out, so that none of them
    // can slip a datagram in after the burst.
    void haltPublishing(int stopBurst) override
    {
        HaltBroadcast();
        SendStopBurst(stopBurst);
    }

    // A trim text as a whole number of milliseconds: blanks around it ignored,
    // a point or a comma as decimal separator, halves rounded to even. False
    // for a text that is no number or does not fit 32 bits.
    static bool ratioFromTrim(const QString &trim, qint32 *ratio);

private:
    void refreshRatio();

    const ClockEngine &m_clock;
    const Settings &m_settings;
    // The time and the rate channel. What the OS does not take is dropped: the
    // next tick sends afresh.
    DatagramSender m_winsock1{BroadcastAddress, TimePort};
    DatagramSender m_winsock2{BroadcastAddress, RatePort};
    Timer m_timer3;
    qint32 m_ratio = 0;
    qint32 m_delay = 0;  // counter of the stop burst in progress
};
