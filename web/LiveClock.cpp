// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/LiveClock.h"

#include "platform/Log.h"
#include "clock/Alarms.h"
#include "clock/ClockControl.h"
#include "look/ClockFaceIcon.h"
#include "web/ControlCommand.h"
#include "web/FormBody.h"
#include "web/HttpText.h"
#include "web/JoinPage.h"
#include "web/RequestLog.h"
#include "web/StateJson.h"
#include "web/WebServer.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QByteArray NoStore = "Cache-Control: no-store";

QByteArray lengthLine(qsizetype length)
{
    return "Content-Length: " + QByteArray::number(length);
}

QByteArray typeOf(const QByteArray &resource)
{
    if (resource.endsWith(".css"))
        return "Content-Type: text/css; charset=utf-8";
    if (resource.endsWith(".js"))
        return "Content-Type: text/javascript; charset=utf-8";
    if (resource.endsWith(".webmanifest"))
        return "Content-Type: application/manifest+json";
    return "Content-Type: text/html; charset=utf-8";
}

QByteArray iconPng(int size)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    clockFaceIcon(size).save(&buffer, "PNG");
    return png;
}

}  // namespace

LiveClock::LiveClock(WebServer &server, ClockControl &clock, RequestLog &log, const QByteArray &password,
                     const QByteArray &versionCaption, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_clock(clock)
    , m_log(log)
    , m_gate(password)
    , m_versionCaption(versionCaption)
{
}

QString LiveClock::addressOf(const QString &ip, quint16 port)
{
    return QStringLiteral("http://%1:%2/quorandel/").arg(ip).arg(port);
}

void LiveClock::install()
{
    const auto pageAt = [this](const QByteArray &resource) {
        return [this, resource](const HttpRequest &r, const QByteArray &) { return page(r, resource); };
    };
    m_server.addRoute("/quorandel", pageAt("index.html"));
    m_server.addRoute("/quorandel/", pageAt("index.html"));
    m_server.addRoute("/quorandel/index.html", pageAt("index.html"));
    m_server.addRoute("/quorandel/clock.css", pageAt("clock.css"));
    m_server.addRoute("/quorandel/words.js", pageAt("words.js"));
    m_server.addRoute("/quorandel/control.js", pageAt("control.js"));
    m_server.addRoute("/quorandel/clock.js", pageAt("clock.js"));
    m_server.addRoute("/quorandel/manifest.webmanifest", pageAt("manifest.webmanifest"));
    // Drawn once here, not per request: a home screen asks for them rarely,
    // anyone else as often as they like.
    for (const auto &[route, size] : {std::pair<QByteArray, int>{"/quorandel/icon-192.png", 192},
                                      {"/quorandel/icon-512.png", 512},
                                      {"/quorandel/apple-touch-icon.png", 180}}) {
        const QByteArray png = iconPng(size);
        m_server.addRoute(route, [this, png](const HttpRequest &r, const QByteArray &) { return picture(r, png); });
    }
    m_server.addRoute("/quorandel/join", [this](const HttpRequest &r, const QByteArray &) { return join(r); });
    m_server.addRoute("/quorandel/state.json", [this](const HttpRequest &r, const QByteArray &) { return state(r); });
    m_server.addRoute("/quorandel/events", [this](const HttpRequest &r, const QByteArray &) { return events(r); });
    m_server.addRoute("/quorandel/control", [this](const HttpRequest &r, const QByteArray &peer) { return control(r, peer); });
    m_server.addRoute("/quorandel/channels", [this](const HttpRequest &r, const QByteArray &peer) { return channels(r, peer); });
}

WebAnswer LiveClock::page(const HttpRequest &request, const QByteArray &resource) const
{
    if (request.method != "GET")
        return wrongMethod("GET");
    QFile file(QStringLiteral(":/quorandel/") + QString::fromLatin1(resource));
    if (!file.open(QIODevice::ReadOnly))
        return refusal("404 Not Found", "No such page.");
    const QByteArray body = file.readAll();
    return WebAnswer::text(responseHead("200 OK", m_versionCaption, {typeOf(resource), lengthLine(body.size())}), body);
}

WebAnswer LiveClock::picture(const HttpRequest &request, const QByteArray &png) const
{
    if (request.method != "GET")
        return wrongMethod("GET");
    return WebAnswer::text(responseHead("200 OK", m_versionCaption, {"Content-Type: image/png", lengthLine(png.size())}),
                           png);
}

WebAnswer LiveClock::state(const HttpRequest &request) const
{
    if (request.method != "GET")
        return wrongMethod("GET");
    const QByteArray body = stateJson(m_clock.snapshot(), m_gate.controlOn());
    return WebAnswer::text(
        responseHead("200 OK", m_versionCaption, {"Content-Type: application/json", NoStore, lengthLine(body.size())}),
        body);
}

// Made afresh for each request: the machine's address may have changed since
// the last poster was printed.
WebAnswer LiveClock::join(const HttpRequest &request) const
{
    if (request.method != "GET")
        return wrongMethod("GET");
    const QByteArray body = joinPage(addressOf(m_server.localIP(), m_server.localPort()), m_layoutName);
    return WebAnswer::text(responseHead("200 OK", m_versionCaption, {typeOf("join.html"), lengthLine(body.size())}), body);
}

WebAnswer LiveClock::events(const HttpRequest &request)
{
    if (request.method != "GET")
        return wrongMethod("GET");
    return WebAnswer::events(responseHead("200 OK", m_versionCaption, {"Content-Type: text/event-stream", NoStore}),
                             stateEvent(m_clock.snapshot()));
}

QByteArray LiveClock::stateEvent(const ClockSnapshot &clock) const
{
    return "data: " + stateJson(clock, m_gate.controlOn()) + "\n\n";
}

void LiveClock::clockChanged(const ClockSnapshot &clock)
{
    m_server.sendEvent(stateEvent(clock));
}

void LiveClock::minuteChanged(const ClockSnapshot &clock)
{
    m_server.sendEvent(stateEvent(clock));
}

void LiveClock::tellAlarm(const Alarm &alarm)
{
    m_server.sendEvent(alarmEvent(alarm));
}

QByteArray LiveClock::alarmEvent(const Alarm &alarm)
{
    const QJsonObject data{{"time", QString::fromLatin1(Alarms::timeText(alarm))}, {"text", alarm.text}, {"stop", alarm.stop}};
    return "event: alarm\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

// Each refusal says why in one line; a wrong password is not told apart from
// a wrong user, and an address that keeps guessing is turned away for a while.
std::optional<WebAnswer> LiveClock::refusedByGate(const HttpRequest &request, const QByteArray &peer)
{
    // A second password would be one the gate never sees, and whether a proxy
    // on the way reads the first or the last is anyone's guess.
    if (request.headerCount("Authorization") > 1)
        return refusal("400 Bad Request", "More than one Authorization header.");
    switch (m_gate.check(request.header("Authorization"), QHostAddress(QString::fromLatin1(peer)))) {
    case ControlGate::Verdict::ControlOff:
        return refusal("403 Forbidden", "Control is off: no control password is set.");
    case ControlGate::Verdict::Missing:
        return refusal("401 Unauthorized", "The control password is needed.", {"WWW-Authenticate: Bearer"});
    case ControlGate::Verdict::Wrong:
        m_log.noteControl(peer, "refused: wrong password", true);
        return refusal("401 Unauthorized", "Wrong password.", {"WWW-Authenticate: Bearer"});
    case ControlGate::Verdict::LockedOut:
        m_log.noteControl(peer, "refused: locked out after too many wrong passwords", true);
        return refusal("429 Too Many Requests", "Too many wrong passwords: wait a minute.", {"Retry-After: 60"});
    case ControlGate::Verdict::Accepted:
        break;
    }
    return std::nullopt;
}

WebAnswer LiveClock::control(const HttpRequest &request, const QByteArray &peer)
{
    if (request.method != "POST")
        return wrongMethod("POST");
    if (const auto refused = refusedByGate(request, peer))
        return *refused;
    const FormBody form = decodeFormBody(request.body);
    const ControlCommand command = form.ok() ? readControlCommand(form) : ControlCommand{};
    if (!form.ok() || command.action == ControlCommand::Action::Refused)
        return refusal("400 Bad Request", form.ok() ? command.reason : form.error);
    if (command.date && !m_clock.snapshot().modelDate.isValid())
        return refusal("400 Bad Request", "This clock keeps no model date: set [session] date= in quorandel.conf.");
    m_log.noteControl(peer, "accepted: " + request.body, false);
    apply(command);
    return WebAnswer::status(responseHead("204 No Content", m_versionCaption, {}));
}

// The throttles' states are the operators' business only: the same password.
WebAnswer LiveClock::channels(const HttpRequest &request, const QByteArray &peer)
{
    if (request.method != "GET")
        return wrongMethod("GET");
    if (const auto refused = refusedByGate(request, peer))
        return *refused;
    const QByteArray body = m_channels();
    return WebAnswer::text(
        responseHead("200 OK", m_versionCaption, {"Content-Type: application/json", NoStore, lengthLine(body.size())}),
        body);
}

// In the order the window's own controls would be used: the speed dialog's
// option (and Start, while the clock runs), then the time dialog's Set.
void LiveClock::apply(const ControlCommand &command)
{
    switch (command.action) {
    case ControlCommand::Action::Start:
        return m_clock.start();
    case ControlCommand::Action::Stop:
        return m_clock.stop();
    case ControlCommand::Action::Set:
        if (command.speed)
            m_clock.chooseSpeedRemotely(*command.speed);
        if (command.hour && command.minute)
            m_clock.setTimeAndHold(*command.hour, *command.minute);
        if (command.date)
            m_clock.setDate(*command.date);
        return;
    case ControlCommand::Action::Refused:
        return;
    }
}

WebAnswer LiveClock::refusal(const QByteArray &status, const QByteArray &reason, const QByteArrayList &lines) const
{
    return WebAnswer::status(textResponse(status, m_versionCaption, reason, lines));
}

WebAnswer LiveClock::wrongMethod(const QByteArray &allowed) const
{
    return refusal("405 Method Not Allowed", "Only " + allowed + " is answered here.", {"Allow: " + allowed});
}
