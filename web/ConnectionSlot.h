#pragma once

#include "platform/Timer.h"

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
    bool Answered = false;   // this connection's one request has been handled
    bool Events = false;     // an events stream: stays open, written to by sendEvent()
    // Changes whenever the slot's connection begins or ends, so that a
    // handler resuming after a yield can tell that its connection is gone.
    quint64 Connection = 0;
};

// One connection slot of the web server: its socket (element n of the
// server's socket array), its send pump TSendData(n), its watchdog (the
// request deadline, then the send timeout) and the state of its one request
// and answer, made together and returned to an empty, closed slot by reset().
class ConnectionSlot : public QObject
{
    Q_OBJECT
public:
    ConnectionSlot(int index, Winsock *socket, FileNumbers &files, QObject *parent = nullptr);

    int index() const { return m_index; }
    Winsock *socket() const { return m_socket; }
    Timer *pump() { return &m_pump; }
    SlotInfo &info() { return m_info; }
    const SlotInfo &info() const { return m_info; }
    bool isFree() const;

    // Takes a waiting connection as the slot's new one; it has `requestMs` to
    // send its request.
    void begin(qintptr requestId, quint64 connection, int requestMs);
    // (Re)starts the watchdog: the slot is given up when it fires.
    void armWatchdog(int ms) { m_watchdog.start(ms); }
    void stopWatchdog() { m_watchdog.stop(); }
    // Socket closed, pump and watchdog stopped, file given back, state cleared.
    void reset(quint64 connection);

signals:
    void watchdogExpired(int index);

private:
    int m_index = 0;
    Winsock *m_socket = nullptr;
    FileNumbers &m_files;
    Timer m_pump;
    QTimer m_watchdog;
    SlotInfo m_info;
};
