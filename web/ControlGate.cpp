// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ControlGate.h"

#include <QCryptographicHash>

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

namespace {
QByteArray digestOf(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

// The credentials after "Bearer " (the scheme in any letter case); none when
// the header is absent, of another scheme or empty after the scheme.
std::optional<QByteArray> bearerToken(const QByteArray &authorization)
{
    const QByteArray value = authorization.trimmed();
    const qsizetype blank = value.indexOf(' ');
    if (blank < 0 || value.left(blank).toLower() != "bearer")
        return std::nullopt;
    const QByteArray token = value.mid(blank + 1).trimmed();
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

// An IPv6 host can pick any address in its /64, so the lock-out covers the
// whole /64; an IPv4 address seen through an IPv6 socket counts as itself.
QByteArray addressKey(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        return "4:" + QByteArray::number(v4);
    const Q_IPV6ADDR v6 = peer.toIPv6Address();
    return "6:" + QByteArray(reinterpret_cast<const char *>(v6.c), 8).toHex();
}
}  // namespace

ControlGate::ControlGate(const QByteArray &password, Clock clock)
    : m_on(!password.isEmpty())
    , m_digest(digestOf(password))
    , m_clock(std::move(clock))
{
}

qint64 ControlGate::monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ControlGate::Verdict ControlGate::check(const QByteArray &authorization, const QHostAddress &peer)
{
    if (!m_on)
        return Verdict::ControlOff;
    const qint64 now = m_clock();
    const QByteArray key = addressKey(peer);
    const auto it = m_records.constFind(key);
    if (it != m_records.constEnd() && now < it->lockedUntil)
        return Verdict::LockedOut;
    const std::optional<QByteArray> token = bearerToken(authorization);
    if (!token)
        return Verdict::Missing;
    if (!matches(*token))
        return recordWrong(key, now);
    m_records.remove(key);
    return Verdict::Accepted;
}

// Both sides are hashed first, so that the loop always runs over 32 bytes and
// neither the password's length nor its first differing byte shows in the time.
bool ControlGate::matches(const QByteArray &token) const
{
    const QByteArray given = digestOf(token);
    unsigned char diff = 0;
    for (qsizetype i = 0; i < m_digest.size(); ++i)
        diff |= static_cast<unsigned char>(given.at(i) ^ m_digest.at(i));
    return diff == 0;
}

ControlGate::Verdict ControlGate::recordWrong(const QByteArray &key, qint64 now)
{
    const bool storm = countWrongEverywhere(now);
    // With the table full, an address that has no record yet is treated as
    // locked: throwing out another address's count would let a few addresses
    // taking turns guess for ever.
    if (!m_records.contains(key) && !makeRoom(now))
        return Verdict::LockedOut;
    Record &r = m_records[key];
    while (!r.wrongAt.isEmpty() && now - r.wrongAt.first() >= WindowMs)
        r.wrongAt.removeFirst();
    r.wrongAt.append(now);
    if (r.wrongAt.size() < WrongPerWindow)
        return storm ? Verdict::LockedOut : Verdict::Wrong;
    r.wrongAt.clear();
    r.lockedUntil = now + LockOutMs;
    return Verdict::LockedOut;
}

// True when the wrong passwords of the last window, from all addresses, are
// already at the ceiling. A wrong password during that time is not counted,
// so that the lock lifts when the window of the first of them has passed and
// the list never grows beyond the ceiling.
bool ControlGate::countWrongEverywhere(qint64 now)
{
    while (!m_wrongEverywhere.isEmpty() && now - m_wrongEverywhere.first() >= WindowMs)
        m_wrongEverywhere.removeFirst();
    if (m_wrongEverywhere.size() >= WrongPerWindowAll)
        return true;
    m_wrongEverywhere.append(now);
    return false;
}

// Forgets the addresses that no longer count against anyone; false when the
// table is still full, so that a flood of new addresses costs memory up to
// the ceiling and no further.
bool ControlGate::makeRoom(qint64 now)
{
    if (m_records.size() < MaxAddresses)
        return true;
    m_records.removeIf([now](QHash<QByteArray, Record>::iterator it) { return expiresAt(it.value()) <= now; });
    return m_records.size() < MaxAddresses;
}

qint64 ControlGate::expiresAt(const Record &r)
{
    const qint64 lastWrong = r.wrongAt.isEmpty() ? 0 : r.wrongAt.last() + WindowMs;
    return std::max(r.lockedUntil, lastWrong);
}
