// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>

#include <functional>

// Decides whether a control request may act on the clock: the password in its
// Authorization header, and a lock-out for addresses that guess. Everything
// here sees hostile input, so the password is compared in constant time and
// the table of guessing addresses has a fixed ceiling.
class ControlGate
{
public:
    enum class Verdict {
        Accepted,
        ControlOff,  // no password is set: 403
        Missing,     // no "Bearer" credentials: 401
        Wrong,       // 401
        LockedOut    // 429
    };
    using Clock = std::function<qint64()>;  // milliseconds, never going back

    static constexpr int WrongPerWindow = 5;  // the wrong password that locks the address
    static constexpr qint64 WindowMs = 60'000;
    static constexpr qint64 LockOutMs = 60'000;
    static constexpr int MaxAddresses = 4096;
    // Wrong passwords in one window from all addresses together; beyond this
    // every wrong password is locked out, so that many addresses sharing the
    // guessing cannot go faster than this.
    static constexpr int WrongPerWindowAll = 30;

    // The password as UTF-8 bytes; empty turns control off.
    explicit ControlGate(const QByteArray &password, Clock clock = monotonicMs);

    bool controlOn() const { return m_on; }
    Verdict check(const QByteArray &authorization, const QHostAddress &peer);
    qsizetype trackedAddresses() const { return m_records.size(); }

    static qint64 monotonicMs();

private:
    struct Record
    {
        QList<qint64> wrongAt;  // within the last window, oldest first
        qint64 lockedUntil = 0;
    };

    bool matches(const QByteArray &token) const;
    Verdict recordWrong(const QByteArray &key, qint64 now);
    bool makeRoom(qint64 now);
    bool countWrongEverywhere(qint64 now);
    static qint64 expiresAt(const Record &r);

    bool m_on = false;
    QByteArray m_digest;
    Clock m_clock;
    QHash<QByteArray, Record> m_records;
    QList<qint64> m_wrongEverywhere;  // within the last window, oldest first, at most WrongPerWindowAll
};
