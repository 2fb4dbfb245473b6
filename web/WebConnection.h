// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QTimer>

class StreamSocket;
class QTcpSocket;
class WebServer;
struct WebAnswer;

// The state of one connection's answer, plus what it needs to collect its
// one request: slot n's record, Slots(n).
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

// One connection of the web server, in slot n: its socket, the bytes of its
// one request, the pump that sends the answer (the header, then the body in
// chunks of WebServer::ChunkSize, each once the socket has handed the
// previous one to the system) and its watchdog (the request deadline, then
// the send timeout). Whatever ends it (the answer sent, the peer's close or
// reset, a socket error, the watchdog, the server giving its slot to a
// newcomer) ends it through die(), once.
class WebConnection : public QObject
{
    Q_OBJECT
public:
    // Takes `socket`, just accepted, over.
    WebConnection(int slot, QTcpSocket *socket, quint64 arrival, WebServer &server);
    ~WebConnection() override;

    const SlotInfo &info() const { return m_info; }
    bool isStream() const { return m_info.Events; }
    // The slot it came in through; a stream has left it, and keeps the
    // number for its lines in the log alone.
    int slot() const { return m_slot; }

    // An events stream's: writes to it, sharing the event's bytes with every
    // other stream; false when it cannot take it.
    bool sendEvent(const QByteArray &event);
    // An events stream's: true when its reader has taken nothing for `ms`.
    bool stalledFor(int ms);

    // Closes the connection so that what was sent still reaches the peer,
    // gives its file back and tells died(); the object then goes.
    void die();

signals:
    void died(int slot);

private:
    void WSock_DataArrival();
    void WSock_SendProgress(qint64 bytesSent);
    void WSock_SendComplete();
    void WSock_Close();
    void WSock_Error(QAbstractSocket::SocketError error);
    void watchdogExpired();

    void send(const WebAnswer &answer);
    void sendWhenReady(const WebAnswer &answer);
    void sendText(const WebAnswer &answer);
    void sendFile(const WebAnswer &answer);
    void refuseFile(int number, const char *description, const QByteArray &response);
    void sendResponse(const QByteArray &response);
    void openStream(const WebAnswer &answer);
    bool sendToStream(const QByteArray &data);
    void noteUnsent();
    void write(const QByteArray &data);

    void sendNextChunk();
    void sendTextChunk();
    void sendFileChunk();
    void showProgress();

    void logError(int number, const QByteArray &description) const;
    void showStatus(const QString &text) const;

    WebServer &m_server;
    const int m_slot;
    QTcpSocket *m_socket;  // null once it has died or become a stream
    QTimer m_watchdog;
    SlotInfo m_info;
    StreamSocket *m_stream = nullptr;  // an events stream's, on the bare descriptor
};
