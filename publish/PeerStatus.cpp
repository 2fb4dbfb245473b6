// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/PeerStatus.h"

#include "net/Reconnection.h"

#include <utility>

PeerStatus::PeerStatus(const QString &channel, const QString &peer, bool connectionless, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_peer(peer)
    , m_connectionless(connectionless)
    , m_lastAnswer(QTime::currentTime())
{
}

// Short enough for the window's status panel: the peer's address is on stderr.
QString PeerStatus::text() const
{
    const QString since = m_since.toString(QStringLiteral("HH:mm"));
    switch (m_state) {
    case State::Connecting:
        return m_channel + (m_connectionless ? QStringLiteral(": no answer yet") : QStringLiteral(": connecting\u2026"));
    case State::Connected:
        return m_channel + QStringLiteral(": connected");
    case State::Lost:
        return m_channel + QStringLiteral(": offline since ") + since;
    case State::Answering:
        return m_channel + QStringLiteral(": answering");
    case State::Silent:
        return m_channel + QStringLiteral(": no answer since ") + since;
    }
    return {};
}

QJsonObject PeerStatus::json() const
{
    static const char *const names[] = {"connecting", "connected", "lost", "answering", "noAnswer"};
    const char *name = m_connectionless && m_state == State::Connecting ? "waiting" : names[int(m_state)];
    QJsonObject o{{"name", m_channel}, {"state", QString::fromLatin1(name)}};
    if (m_state == State::Lost || m_state == State::Silent)
        o.insert("since", m_since.toString(QStringLiteral("HH:mm")));
    return o;
}

void PeerStatus::reached(bool again)
{
    emit notice(QStringLiteral("%1 %2 %3").arg(m_channel, m_peer, again ? QStringLiteral("is back")
                                                                         : QStringLiteral("connected")));
    become(State::Connected);
}

void PeerStatus::lost(const QString &reason, bool wasUp, int retryMs)
{
    emit problem(QStringLiteral("%1 %2 %3: %4; trying again, first in %5 s, at most every %6 s")
                     .arg(m_channel, m_peer, wasUp ? QStringLiteral("lost") : QStringLiteral("cannot be reached"),
                          reason)
                     .arg(retryMs / 1000)
                     .arg(Reconnection::LastRetryMs / 1000));
    become(State::Lost, QTime::currentTime());
}

void PeerStatus::answered()
{
    m_lastAnswer = QTime::currentTime();
    if (m_state == State::Answering)
        return;
    emit notice(QStringLiteral("%1 %2 %3").arg(m_channel, m_peer, std::exchange(m_answeredBefore, true)
                                                                      ? QStringLiteral("answers again")
                                                                      : QStringLiteral("answers")));
    become(State::Answering);
}

void PeerStatus::silent(int forMs)
{
    if (m_state == State::Silent)
        return;
    emit problem(QStringLiteral("%1 %2 does not answer: nothing heard from it for %3 s")
                     .arg(m_channel, m_peer)
                     .arg(forMs / 1000));
    become(State::Silent, m_lastAnswer);
}

void PeerStatus::become(State state, QTime since)
{
    m_state = state;
    m_since = since;
    emit changed(text());
}
