// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class FileNumbers;
class Winsock;

// The state of one connection slot's response, plus what the slot needs to
// collect its one request.
struct SlotInfo
{
    qint16 FileNum = 0;      // 0 nothing to stream, -1 SendBuf, > 0 the open file
    qint32 TotalBytes = 0;   // header and body
    qint32 SentBytes = 0;    // as reported by the socket, header included
    QByteArray FilePath;     // request path, for the progress text
    QByteArray SendBuf;      // the part of a text answer not yet sent
    qint64 FileLength = 0;   // as the file was when it was opened
    QByteArray Received;     // request bytes collected so far
    QByteArray Peer;         // the client's dotted address
    bool Answered = false;   // this connection's one request has been handled
    bool Events = false;     // an events stream: stays open, written to by sendEvent()
    // Order of arrival among the server's connections: when slots must be
    // given up, the oldest goes first.
    quint64 Arrival = 0;
    // An events stream's bytes not yet taken by the reader, when last looked
    // at, and when they last went down (the server's clock, ms).
    qint64 Unsent = 0;
    qint64 UnsentFellAt = 0;
};

// One connection slot of the web server: its socket (element n of the
// server's socket array), its watchdog (the request deadline, then the send
// timeout) and the state of its one request and answer, made together and
// returned to an empty, closed slot by reset().
class ConnectionSlot : public QObject
{
    Q_OBJECT
public:
    ConnectionSlot(int index, Winsock *socket, FileNumbers &files, QObject *parent = nullptr);

    int index() const { return m_index; }
    Winsock *socket() const { return m_socket; }
    SlotInfo &info() { return m_info; }
    const SlotInfo &info() const { return m_info; }
    bool isFree() const;

    // Takes the listener's waiting connection as the slot's new one; it has
    // `requestMs` to send its request.
    void begin(Winsock &listener, qintptr requestId, quint64 arrival, int requestMs);
    // (Re)starts the watchdog: the slot is given up when it fires.
    void armWatchdog(int ms) { m_watchdog.start(ms); }
    void stopWatchdog() { m_watchdog.stop(); }
    // Socket closed, watchdog stopped, file given back, state cleared.
    void reset();

signals:
    void watchdogExpired(int index);

private:
    int m_index = 0;
    Winsock *m_socket = nullptr;
    FileNumbers &m_files;
    QTimer m_watchdog;
    SlotInfo m_info;
};
