// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/AlarmWatch.h"
#include "clock/ClockEngine.h"
#include "platform/FileNumbers.h"
#include "platform/Paths.h"
#include "publish/BroadcastTimeProducer.h"
#include "publish/DccExClient.h"
#include "publish/DisplayPush.h"
#include "publish/FastClockMulticast.h"
#include "publish/ImageExport.h"
#include "publish/JmriClient.h"
#include "publish/TimeBroadcast.h"
#include "publish/Z21Client.h"
#include "settings/ExtensionSettings.h"
#include "settings/SessionJournal.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "web/LiveClock.h"
#include "web/RequestLog.h"
#include "web/WebServer.h"

#include <QObject>
#include <QString>

#include <functional>

class SlotStatus;

// Everything the master clock is but its window: the settings and their
// store, the clock, every publisher, the web server and the live page, wired
// to each other in wire() alone. The window owns one and runs its start-up
// and shutdown steps in the order they must come; tests build one without a
// window (the picture then has nothing to grab).
class MasterClock : public QObject
{
    Q_OBJECT
public:
    MasterClock(const AppPaths &paths, SlotStatus &status, ImageExport::SnapWindow snapWindow,
                const QString &versionCaption, QObject *parent = nullptr);

    // Reads the record into the settings and the clock and opens the request
    // log; after an unclean end the journal's time and speed replace the
    // record's. False, with the reason, when the record cannot be used.
    bool loadSettings(const std::function<void()> &putTrimsIntoConfig, QString *error);
    // The listener, the picture, the broadcast's stop marks, the live page,
    // the multicast, the layout network and the throttles, in that order; then
    // the journal, and the clock started when a crashed session resumes running.
    void startPublishing();
    bool saveSettings(QString *error);
    // The clock halted, every publication announcing its own stop (the
    // broadcast with `stopBurst` stop marks), then the slave clocks', the
    // layout network's and the throttles' last word.
    void finish(int stopBurst);
    void closeLog();

    // "http://<address>:<port>/quorandel/": where browsers find the live clock.
    QString livePageAddress() const;

    ClockEngine &clock() { return m_clock; }
    Settings &settings() { return m_settings; }
    const ExtensionSettings &extensionSettings() const { return m_extension; }
    WebServer &web() { return m_web; }
    TimeBroadcast &broadcast() { return m_broadcast; }
    DisplayPush &push() { return m_push; }
    ImageExport &imageExport() { return m_export; }
    FastClockMulticast &fastClock() { return m_fastClock; }
    LiveClock &liveClock() { return m_live; }
    BroadcastTimeProducer &lcc() { return m_lcc; }
    SessionJournal &journal() { return m_journal; }
    JmriClient &jmri() { return m_jmri; }
    DccExClient &dccEx() { return m_dccEx; }
    Z21Client &z21() { return m_z21; }

signals:
    // A line for the person at the window about one topic (a channel, the
    // live pages, the session); the newest text of a topic replaces its last.
    void statusShown(const QString &topic, const QString &text);

private:
    void wire();
    void resumeSession(const QDateTime &recordSaved);
    void tellAlarm(const Alarm &alarm);
    void wireThrottle(PeerStatus &status, bool enabled);
    // {"channels":[...]}: the named throttle channels' states, for the live page.
    QByteArray channelsJson();
    void fitStreamsToOpenFiles();

    AppPaths m_paths;
    Settings m_settings;
    SettingsStore m_store;
    ExtensionSettings m_extension;
    ClockEngine m_clock;
    RequestLog m_log;
    FileNumbers m_files;
    WebServer m_web;
    LiveClock m_live;
    TimeBroadcast m_broadcast;
    DisplayPush m_push;
    ImageExport m_export;
    FastClockMulticast m_fastClock;
    BroadcastTimeProducer m_lcc;
    JmriClient m_jmri;
    DccExClient m_dccEx;
    Z21Client m_z21;
    SessionJournal m_journal;
    SessionStart m_sessionStart;
    AlarmWatch m_alarms;
};
