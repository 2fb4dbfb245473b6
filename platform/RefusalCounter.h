// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

// What a channel refuses (LCC's set events, JMRI's pushes) is told, but a
// peer that keeps sending what is refused must not fill the disk or the
// journal: the first refusal from a peer is told whole; the further ones
// within the minute that began with it are counted and told as one line when
// that minute is over, and counting goes on minute by minute while they come.
// A minute without one ends it, and the next refusal is told whole again.
class RefusalCounter : public QObject
{
    Q_OBJECT
public:
    static constexpr int WindowMs = 60000;

    // channel: "LCC"; what: "set events", as the counted line says them.
    RefusalCounter(const QByteArray &channel, const QByteArray &what, QObject *parent = nullptr);

    // True when this refusal from `peer` is to be told whole; otherwise it
    // has been counted.
    bool first(const QByteArray &peer);
    void setWindow(int ms) { m_windowMs = ms; }

signals:
    // "LCC", "59,999 more set events refused from 05.01.01.01.22.00 in the last minute"
    void counted(const QByteArray &channel, const QByteArray &text);

private:
    struct Count
    {
        qint64 since = 0;  // ms on m_clock
        qint64 more = 0;
    };
    void windowsEnded();

    QByteArray m_channel;
    QByteArray m_what;
    int m_windowMs = WindowMs;
    QHash<QByteArray, Count> m_peers;
    QElapsedTimer m_clock;
    QTimer m_check;
};
