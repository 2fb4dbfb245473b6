// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/JmriClient.h"

#include "clock/ClockTime.h"
#include "clock/OfferedSpeeds.h"

#include <QUrl>

#include <cmath>
#include <cstdlib>

namespace {

constexpr int SecondsPerDay = 86400;
constexpr int MaxToldKept = 32;  // posts within EchoGraceMs, even under a storm of changes

QUrl jsonUrl(const ExtensionSettings::Jmri &settings)
{
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(settings.host);
    url.setPort(settings.port);
    url.setPath(QStringLiteral("/json"));
    return url;
}

// How far apart two times of day are on the 24-hour dial, in seconds.
int apart(int a, int b)
{
    const int d = ((a - b) % SecondsPerDay + SecondsPerDay) % SecondsPerDay;
    return std::min(d, SecondsPerDay - d);
}

bool agrees(const JmriTime::Message &push, int secondsOfDay, int rate, bool running)
{
    return push.running == running && std::abs(push.rate - rate) < 0.01 && apart(push.secondsOfDay, secondsOfDay) <= 60;
}

}  // namespace

JmriClient::JmriClient(const ExtensionSettings::Jmri &settings, ClockControl &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_socket(jsonUrl(settings))
    , m_status(QStringLiteral("JMRI"), m_socket.peerName())
{
    m_since.start();
    m_ping.setInterval(PingMs);
    m_silence.setSingleShot(true);
    m_silence.setInterval(SilenceMs);
    connect(&m_ping, &QTimer::timeout, this, [this] { m_socket.send(JmriTime::ping()); });
    connect(&m_silence, &QTimer::timeout, this, [this] {
        m_socket.drop(QStringLiteral("nothing heard from it for %1 s").arg(SilenceMs / 1000));
    });
    connect(&m_socket, &WebSocketClient::connected, this, [this] {
        m_helloHeard = m_errorTold = false;
        m_ping.start();
        m_silence.start();
    });
    connect(&m_socket, &WebSocketClient::disconnected, this, [this] {
        m_ping.stop();
        m_silence.stop();
    });
    connect(&m_socket, &WebSocketClient::received, this, &JmriClient::heard);
    connect(&m_refusals, &RefusalCounter::counted, this, &JmriClient::refusalsCounted);
    connect(&m_socket, &WebSocketClient::lost, &m_status, &PeerStatus::lost);
    connect(&m_socket, &WebSocketClient::reached, &m_status, &PeerStatus::reached);
}

void JmriClient::start()
{
    if (!isEnabled())
        return;
    m_status.begin();
    m_socket.start();
}

// JMRI counts on by itself: it hears that the master stopped before it goes.
void JmriClient::stop()
{
    tell(m_clock.snapshot());
    m_ping.stop();
    m_silence.stop();
    m_socket.stop();
}

void JmriClient::clockChanged(const ClockSnapshot &clock)
{
    tell(clock);
}

void JmriClient::minuteChanged(const ClockSnapshot &clock)
{
    if (clock.running())
        tell(clock);
}

void JmriClient::tell(const ClockSnapshot &clock)
{
    if (!m_socket.isConnected() || !m_helloHeard)
        return;
    const QDate date = clock.modelDate.isValid() ? clock.modelDate : QDate::currentDate();
    m_socket.send(JmriTime::post(date, clock.secondsOfDay, clock.countedSpeed, clock.running()));
    const qint64 now = m_since.elapsed();
    m_told.removeIf([now](const Told &t) { return now - t.atMs > EchoGraceMs; });
    if (m_told.size() >= MaxToldKept)
        m_told.removeFirst();
    m_told.append({clock.secondsOfDay, clock.countedSpeed, clock.running(), now});
}

void JmriClient::heard(const QByteArray &message)
{
    m_silence.start();
    const JmriTime::Message m = JmriTime::read(message);
    switch (m.kind) {
    case JmriTime::Message::Kind::NotJson:
        m_socket.drop(QStringLiteral("it sent something that is not JSON"));
        return;
    case JmriTime::Message::Kind::Hello:
        m_helloHeard = true;
        tell(m_clock.snapshot());
        return;
    case JmriTime::Message::Kind::Time:
        if (m_helloHeard)
            pushed(m);
        return;
    case JmriTime::Message::Kind::Error:
        if (!std::exchange(m_errorTold, true))
            m_status.warn(QStringLiteral("JMRI %1 answered: %2").arg(m_socket.peerName(), m.text));
        return;
    case JmriTime::Message::Kind::Other:
        return;
    }
}

// The master's word now, or one still on its way to JMRI when it pushed.
bool JmriClient::isEcho(const JmriTime::Message &push) const
{
    const ClockSnapshot now = m_clock.snapshot();
    if (agrees(push, now.secondsOfDay, now.countedSpeed, now.running()))
        return true;
    const qint64 ms = m_since.elapsed();
    for (const Told &t : m_told) {
        const int counted = t.running ? int((ms - t.atMs) * t.rate / 1000) : 0;
        if (ms - t.atMs <= EchoGraceMs && agrees(push, t.secondsOfDay + counted, t.rate, t.running))
            return true;
    }
    return false;
}

// What JMRI asks of the master, in the order the web control's own commands
// take: the rate, the time (which holds the clock), then run or stop.
void JmriClient::pushed(const JmriTime::Message &push)
{
    if (isEcho(push))
        return;
    const ClockSnapshot now = m_clock.snapshot();
    Asked asked;
    asked.rate = std::abs(push.rate - now.countedSpeed) >= 0.01;
    asked.time = apart(push.secondsOfDay, now.secondsOfDay) > 60;
    asked.runState = push.running != now.running() || (asked.time && push.running);
    QByteArrayList what;
    if (asked.rate)
        what << "set rate " + QByteArray::number(push.rate) + ":1";
    if (asked.time)
        what << "set time " + ClockTimeMath::timeOfDayText(push.secondsOfDay).left(5);
    if (asked.runState)
        what << (push.running ? "start" : "stop");
    const QByteArray peer = "JMRI " + m_socket.peerName().toUtf8();
    const QByteArray refusal = refusalOf(push, asked);
    if (refusal.isEmpty()) {
        emit controlNote(peer, "accepted: " + what.join(", "), false);
        obey(push, asked);
        return;
    }
    if (m_refusals.first(m_socket.peerName().toUtf8()))
        emit controlNote(peer, "refused: " + refusal + ": " + what.join(", "), true);
    // A JMRI that will not take the master's word makes no storm of answers.
    if (!m_snappedBack.isValid() || m_snappedBack.elapsed() >= EchoGraceMs) {
        m_snappedBack.start();
        tell(now);
    }
}

QByteArray JmriClient::refusalOf(const JmriTime::Message &push, const Asked &asked) const
{
    if (!m_settings.control)
        return "control from JMRI is off ([jmri] control=false)";
    const int speed = int(push.rate);
    if (asked.rate && (speed != push.rate || !OfferedSpeeds::contains(speed)))
        return "not one of the speeds " + OfferedSpeeds::listed("and") + ":1";
    return {};
}

void JmriClient::obey(const JmriTime::Message &push, const Asked &asked)
{
    if (asked.rate)
        m_clock.chooseSpeedRemotely(qint16(push.rate));
    if (asked.time)
        m_clock.setTimeAndHold(push.secondsOfDay / 3600, push.secondsOfDay / 60 % 60);
    if (asked.runState && push.running)
        m_clock.start();
    else if (asked.runState)
        m_clock.stop();
}
