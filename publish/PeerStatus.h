// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTime>

// What the people at the layout learn of one throttle channel (JMRI, DCC-EX,
// the Z21): a status line for the window and the live page's control panel,
// and one line on stderr when its peer is lost and when it is there (again).
// A connection is connecting, connected, or lost ("offline") since a time of
// day; the Z21, which has no connection, is answering or silent since its last
// answer.
class PeerStatus : public QObject
{
    Q_OBJECT
public:
    enum class State { Connecting, Connected, Lost, Answering, Silent };

    // channel: "JMRI"; peer: "192.168.1.20:12080", for stderr. A station
    // without a connection starts "waiting" for its first answer.
    PeerStatus(const QString &channel, const QString &peer, bool connectionless = false, QObject *parent = nullptr);

    QString channel() const { return m_channel; }
    State state() const { return m_state; }
    // "JMRI: offline since 14:02"
    QString text() const;
    // {"name":"JMRI","state":"lost","since":"14:02"}: the live page words it.
    QJsonObject json() const;

    // The channel starts: its first line is shown.
    void begin() { emit changed(text()); }
    // Anything else the person running the program should read.
    void warn(const QString &text) { emit problem(text); }
    // A connection, as Reconnection tells of it.
    void reached(bool again);
    void lost(const QString &reason, bool wasUp, int retryMs);
    // A station without a connection: it answered, or it has been silent
    // for `forMs` since its last answer (or since the first word to it).
    void answered();
    void silent(int forMs);

signals:
    void changed(const QString &text);
    void problem(const QString &text);
    void notice(const QString &text);

private:
    void become(State state, QTime since = {});

    QString m_channel;
    QString m_peer;
    bool m_connectionless;
    State m_state = State::Connecting;
    QTime m_since;
    QTime m_lastAnswer;
    bool m_answeredBefore = false;
};
