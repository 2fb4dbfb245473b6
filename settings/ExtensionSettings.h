// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/Alarms.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

// Settings the settings record has no room for: an optional INI file that the
// user writes by hand, read once at start-up and never written. Every key has
// a default; anything wrong in the file becomes a warning line and the
// default, never a reason to stop.
struct ExtensionSettings
{
    struct Remote
    {
        QString password;  // empty: control from the network is off
        // Live pages listening at once (their events streams).
        static constexpr int MinStreams = 16;
        static constexpr int MaxStreams = 20000;
        static constexpr int DefaultStreams = 2000;
        int streams = DefaultStreams;
    };
    struct FastClock
    {
        bool enabled = false;  // it is new traffic on the club's network
        QString group = QStringLiteral("239.50.50.20");
        quint16 port = 2000;
        int ttl = 1;
        QString name = QStringLiteral("Quorandel");
        QString text;
        int intervalSeconds = 2;
    };
    struct Display
    {
        // The display device's usual address on the layout's LAN (./test.sh
        // gives its private network the same address).
        static inline const QString DefaultAddress = QStringLiteral("192.168.1.99");
        static constexpr quint16 DefaultPort = 7799;
        QString address = DefaultAddress;
        quint16 port = DefaultPort;
    };

    // The layout's LCC network (OpenLCB Broadcast Time through a GridConnect
    // hub): off until both the hub and the node ID are set.
    struct Lcc
    {
        static constexpr quint16 DefaultHubPort = 12021;
        static constexpr quint64 DefaultClock = 0x010100000100ULL;
        QString hubHost;  // empty: LCC off
        quint16 hubPort = DefaultHubPort;
        quint64 nodeId = 0;  // required with a hub; no default
        quint64 clockId = DefaultClock;
        bool control = false;  // set events from the network are obeyed
        QDate date{1970, 1, 1};
        QString name;         // Simple Node Information: the user's name
        QString description;  // and description
        bool enabled() const { return !hubHost.isEmpty() && nodeId != 0; }
    };

    // The operating session: how it comes back after an unclean end, its
    // model date, and its alarms ([alarms], one key per alarm).
    struct Session
    {
        bool resumeRunning = false;  // resume=running: start at once after a crash
        QDate date;                  // none: nothing about dates is told
        std::vector<Alarm> alarms;   // in the order of their keys
    };

    // The throttles' servers and command stations that follow the clock, each
    // off until named: JMRI's JSON server over WebSocket, a DCC-EX
    // EX-CommandStation, a Z21 (its IP address: it speaks UDP).
    struct Jmri
    {
        QString host;
        quint16 port = 12080;
        bool control = false;  // JMRI's clock changes may drive this clock
        bool enabled() const { return !host.isEmpty(); }
    };
    struct DccEx
    {
        QString host;
        quint16 port = 2560;
        bool enabled() const { return !host.isEmpty(); }
    };
    struct Z21
    {
        QString host;
        quint16 port = 21105;
        bool enabled() const { return !host.isEmpty(); }
    };

    Remote remote;
    FastClock fastClock;
    Display display;
    Lcc lcc;
    Session session;
    Jmri jmri;
    DccEx dccEx;
    Z21 z21;
    // One line for each problem found in the file, to be logged once each.
    QStringList warnings;

    // $XDG_CONFIG_HOME/Quorandel/quorandel.conf
    static QString standardPath();
    // A missing file gives every default and no warning.
    static ExtensionSettings read(const QString &path = standardPath());
};
