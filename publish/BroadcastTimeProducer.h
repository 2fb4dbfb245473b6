// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "clock/ClockSnapshot.h"
#include "net/GridConnectClient.h"
#include "net/LccNode.h"
#include "platform/RefusalCounter.h"
#include "publish/BroadcastTime.h"
#include "settings/ExtensionSettings.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QTimer>

// The layout's LCC network hears the clock: an OpenLCB Broadcast Time
// producer (the standard's clock generator) on one node that joins the network
// through a GridConnect hub. When the settings leave LCC off it opens nothing.
//
// What it tells is the clock model's snapshot: the counted speed (as the rate,
// 4N quarters), the model time to the minute, running or not (Held counts as
// stopped: its time stands). The model date is the session's when it keeps
// one; otherwise a fixed date from the settings, rolled at each midnight the
// running clock passes.
//
// On the network: at each login the ranges (Producer Range Identified for the
// whole suffix space, Consumer Range Identified for the set half) and the
// synchronisation sequence (Producer Identified for Start or Stop, rate, year,
// date, time); the sequence again on a Query and SyncDelayMs after the last
// change. Each change is an event at once; while running, each new model
// minute is a time event (at every speed offered that is at least one a real
// minute and at most one a model minute); at midnight Date Rollover, the time,
// and SyncDelayMs later the year and the date.
//
// Set events (time, rate, start, stop) are obeyed only with control on, through
// ClockControl, as the web control does; a rate that is not one of the speeds
// offered, a date or a year (fixed by the settings), a time or a date that is
// none (24:00, month 13), and every set while control is off are refused, and
// the state as it is reported back so that the sender's display snaps back.
class BroadcastTimeProducer : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    static constexpr int SyncDelayMs = 3000;

    BroadcastTimeProducer(const ExtensionSettings::Lcc &settings, ClockControl &clock,
                          QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled(); }
    // Joins the network (and again whenever the hub is lost); ignored when off.
    void start();
    // Tells what has changed since the last report (at the exit: the clock
    // stopped), then leaves the network.
    void stop();

    QDate modelDate() const { return m_date; }
    LccNode &node() { return m_node; }
    const LccNode &node() const { return m_node; }
    GridConnectClient &hub() { return m_hub; }
    RefusalCounter &refusals() { return m_refusals; }

    // Start, Stop, a speed or a time set: what changed is told at once.
    void clockChanged(const ClockSnapshot &clock) override;
    // The model time may have moved on: a new minute is told once. Harmless to
    // call on every model second.
    void minuteChanged(const ClockSnapshot &clock) override;

signals:
    void problem(const QString &text);  // for the person running the program
    void notice(const QString &text);
    // A set event from the network, as the web control notes its commands:
    // the peer ("LCC alias 3AE") and "accepted: ..." or "refused: ...".
    void controlNote(const QByteArray &peer, const QByteArray &what, bool refused);
    // A node's refusals after its first, counted a minute at a time.
    void refusalsCounted(const QByteArray &channel, const QByteArray &text);

private:
    struct Told
    {
        bool valid = false;
        bool running = false;
        int quarters = 0;
        int minute = 0;  // of the day
    };
    enum class Force { None, Time, Rate, RunState };

    void loggedIn();
    void identifyEvents();
    void sendSync();
    void sendDateAndYear();
    void reportEvent(quint16 suffix);
    void reportChanges(const ClockSnapshot &clock, Force force);
    void eventReported(OpenLcb::Alias source, OpenLcb::EventId event);
    void setAsked(OpenLcb::Alias source, const BroadcastTime::Decoded &set);
    void refuse(OpenLcb::Alias source, const QByteArray &peer, const QByteArray &what);
    void followMinute(const ClockSnapshot &clock, bool mayRoll);
    bool followDate(const ClockSnapshot &clock);
    quint64 eventId(quint16 suffix) const { return BroadcastTime::event(m_settings.clockId, suffix); }
    static int quartersOf(const ClockSnapshot &clock) { return 4 * clock.countedSpeed; }

    ExtensionSettings::Lcc m_settings;
    ClockControl &m_clock;
    GridConnectClient m_hub;
    LccNode m_node;
    QTimer m_sync;
    QTimer m_dateReport;
    QDate m_date;
    int m_lastMinute = -1;  // of the day, as last seen
    Told m_told;
    RefusalCounter m_refusals{"LCC", "set events"};
};
