// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockControl.h"
#include "clock/ClockFollower.h"
#include "net/WebSocketClient.h"
#include "publish/JmriTime.h"
#include "platform/RefusalCounter.h"
#include "publish/PeerStatus.h"
#include "settings/ExtensionSettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// JMRI's fast clock follows the master through JMRI's JSON server over a
// WebSocket (ws://host:port/json): after JMRI's hello, at every change and at
// every model minute while running, a post of the model time, the counted
// speed as the rate and running or not (Held is not running, its time
// standing), so that JMRI's own counting never drifts from the master's. A
// ping every PingMs keeps JMRI from closing a quiet socket; nothing heard for
// SilenceMs (JMRI answers each ping) is taken for a dead connection.
//
// JMRI pushes its clock on every change and every fast minute. A push that
// agrees with what the master said (the same state and rate, the time within
// a model minute), now or in a post of the last EchoGraceMs still on its way,
// is an echo. Any other push is obeyed only with control on, through
// ClockControl as the web's control is (rate, then time, then run or stop),
// and noted; a push that is refused, or any with control off, is answered
// with the master's state, at most once per EchoGraceMs.
class JmriClient : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    static constexpr int PingMs = 10000;
    static constexpr int SilenceMs = 30000;
    static constexpr int EchoGraceMs = 2000;

    JmriClient(const ExtensionSettings::Jmri &settings, ClockControl &clock, QObject *parent = nullptr);

    bool isEnabled() const { return m_settings.enabled(); }
    // Connects (and again whenever JMRI is lost); ignored when off.
    void start();
    // The master's last word, then the connection closes.
    void stop();
    PeerStatus &status() { return m_status; }
    WebSocketClient &socket() { return m_socket; }

    void clockChanged(const ClockSnapshot &clock) override;
    void minuteChanged(const ClockSnapshot &clock) override;

signals:
    // A push that would drive the clock, as the web control notes its
    // commands: the peer ("JMRI 10.0.0.5:12080") and "accepted: ..." or
    // "refused: ...".
    void controlNote(const QByteArray &peer, const QByteArray &what, bool refused);
    // Its refusals after the first, counted a minute at a time.
    void refusalsCounted(const QByteArray &channel, const QByteArray &text);

private:
    struct Told
    {
        int secondsOfDay = 0;
        int rate = 1;
        bool running = false;
        qint64 atMs = 0;  // on m_since
    };

    // What a push asks that the master does not already do.
    struct Asked
    {
        bool rate = false;
        bool time = false;
        bool runState = false;
    };

    void tell(const ClockSnapshot &clock);
    void heard(const QByteArray &message);
    void pushed(const JmriTime::Message &push);
    bool isEcho(const JmriTime::Message &push) const;
    QByteArray refusalOf(const JmriTime::Message &push, const Asked &asked) const;
    void obey(const JmriTime::Message &push, const Asked &asked);

    ExtensionSettings::Jmri m_settings;
    ClockControl &m_clock;
    WebSocketClient m_socket;
    PeerStatus m_status;
    QTimer m_ping;
    QTimer m_silence;
    QElapsedTimer m_since;
    QElapsedTimer m_snappedBack;
    QList<Told> m_told;  // the posts of the last EchoGraceMs
    RefusalCounter m_refusals{"JMRI", "time pushes"};
    bool m_helloHeard = false;
    bool m_errorTold = false;
};
