// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockFollower.h"
#include "web/ControlGate.h"
#include "web/HttpRequest.h"
#include "web/WebAnswer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class ClockControl;
class RequestLog;
class WebServer;
struct Alarm;
struct ControlCommand;

// The live clock under /quorandel/: the page (from the program's resources),
// the state as JSON, the events stream that tells every change at once, and
// behind the password the control form and the throttle channels' states.
// Everything else on the server stays as it is.
class LiveClock : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    LiveClock(WebServer &server, ClockControl &clock, RequestLog &log, const QByteArray &password,
              const QByteArray &versionCaption, QObject *parent = nullptr);

    // "http://<address>:<port>/quorandel/": where browsers find the live clock.
    static QString addressOf(const QString &ip, quint16 port);

    // The routes, added to the server once.
    void install();
    // The name the join page shows above its code; empty for none.
    void setLayoutName(const QString &name) { m_layoutName = name; }
    // Something the page shows has changed (start, stop, speed, time set):
    // every stream hears of it now.
    void clockChanged(const ClockSnapshot &clock) override;
    // A new model minute: streams hear of it.
    void minuteChanged(const ClockSnapshot &clock) override;
    // An alarm reached: every stream hears it as an event of its own, which
    // pages that do not know it ignore.
    void tellAlarm(const Alarm &alarm);
    // `event: alarm` and {"time":"18:00","text":"End of session","stop":true}
    static QByteArray alarmEvent(const Alarm &alarm);

    ControlGate &gate() { return m_gate; }
    // The channels' states as JSON ({"channels":[...]}), made when asked.
    using Channels = std::function<QByteArray()>;
    void setChannels(Channels channels) { m_channels = std::move(channels); }

    WebAnswer page(const HttpRequest &request, const QByteArray &resource) const;
    WebAnswer picture(const HttpRequest &request, const QByteArray &png) const;
    WebAnswer state(const HttpRequest &request) const;
    WebAnswer join(const HttpRequest &request) const;
    WebAnswer events(const HttpRequest &request);
    WebAnswer control(const HttpRequest &request, const QByteArray &peer);
    WebAnswer channels(const HttpRequest &request, const QByteArray &peer);

private:
    QByteArray stateEvent(const ClockSnapshot &clock) const;
    std::optional<WebAnswer> refusedByGate(const HttpRequest &request, const QByteArray &peer);
    WebAnswer refusal(const QByteArray &status, const QByteArray &reason, const QByteArrayList &lines = {}) const;
    WebAnswer wrongMethod(const QByteArray &allowed) const;
    void apply(const ControlCommand &command);

    WebServer &m_server;
    ClockControl &m_clock;
    RequestLog &m_log;
    ControlGate m_gate;
    const QByteArray m_versionCaption;
    Channels m_channels = [] { return QByteArray(R"({"channels":[]})"); };
    QString m_layoutName;
};
