#pragma once

#include "net/WinsockArray.h"
#include "platform/Timer.h"

#include <QByteArray>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QVector>

#include <algorithm>

class FileNumbers;
class QTimer;
class RequestLog;
class SlotStatus;
struct Settings;

// The state of one connection slot's response, plus what the slot needs to
// collect its one request.
struct SlotInfo
{
    qint16 FileNum = 0;      // 0 nothing to stream, -1 SendBuf, > 0 the open file
    qint32 TotalBytes = 0;   // header and body
    qint32 SentBytes = 0;    // as reported by the socket, header included
    QByteArray FilePath;     // request path, for the progress text
    QByteArray SendBuf;      // the part of a listing not yet sent
    qint64 FileLength = 0;   // as the file was when it was opened
    QByteArray Received;     // request bytes collected so far
    bool Answered = false;   // this connection's one request has been handled
    // Changes whenever the slot's connection begins or ends, so that a
    // handler resuming after a yield can tell that its connection is gone.
    quint64 Connection = 0;
};

// The embedded HTTP/1.0 file server: one listener (WSock element 0) and one
// slot per simultaneous connection, each answering a single GET from the web
// root and streaming the body in chunks of ChunkSize, one per pump tick.
//
// Nothing a peer does ends the program: socket errors close only the slot they
// happen on, and a listener that cannot run leaves the rest of the program
// running without the web server. When every slot is taken, a new connection
// takes the slot of the one that has waited longest without a complete
// request; it is refused only while every slot has a request in progress.
class WebServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int ChunkSize = 8192;
    static constexpr int MaxSlots = 256;
    static constexpr int RequestTimeoutMs = 30000;
    // A transfer that makes no progress this long is given up (as common
    // servers' send timeouts do), so readers that never read cannot hold the
    // slots and file numbers for ever.
    static constexpr int SendTimeoutMs = 60000;
    static constexpr int ListenWaitMs = 5000;

    WebServer(const Settings &settings, RequestLog &log, SlotStatus &status, FileNumbers &files,
              const QString &versionCaption, QObject *parent = nullptr);
    ~WebServer() override;

    // Binds the listener to the settings' LPort and waits (briefly) until it
    // listens; slot text 0 then reads "Listening". False when it cannot: the
    // reason is in slot text 0 and on stderr, and the program runs on without
    // the web server.
    bool startListening();
    bool isListening() const;
    // The listener's address (dotted IPv4 of this machine) and bound port,
    // for the window's address line.
    QString localIP() const;
    quint16 localPort() const;

    // Decimal separator of the progress texts and format of the log's dates.
    void setLocale(const QLocale &locale) { m_locale = locale; }
    // How long a connection may take to send its request.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    // How long a transfer may go without progress.
    void setSendTimeout(int ms) { m_sendTimeoutMs = ms; }
    // Fewer slots than MaxSlots, so that a test can fill them all cheaply.
    void setSlotLimit(int count) { m_slotLimit = std::min(count, int(MaxSlots)); }

    WinsockArray &WSock() { return m_wsock; }
    const WinsockArray &WSock() const { return m_wsock; }
    Timer *TSendData(int n) const { return m_sendTimers.value(n); }
    const QVector<SlotInfo> &Slots() const { return m_slots; }

    void WSock_ConnectionRequest(int index, qintptr requestId);
    void WSock_DataArrival(int index, qint64 bytesTotal);
    void WSock_SendProgress(int index, qint64 bytesSent, qint64 bytesRemaining);
    void WSock_SendComplete(int index);
    void WSock_Close(int index);
    void WSock_Error(int index, int number, const QString &description);
    void TSendData_Timer(int index);

private:
    bool isSlot(int n) const { return n >= 1 && n < m_slots.size(); }
    int freeSlot() const;
    int createSlot();
    int oldestWaitingSlot() const;
    void armWatchdog(int n, int ms);
    void watchdogExpired(int n);

    void handleRequest(int n, const QByteArray &text);
    void answerFile(int n, const QByteArray &requestPath, const QByteArray &localPath);
    void addIndexFile(QByteArray &localPath, QByteArray &requestPath) const;
    void answerListing(int n, const QByteArray &requestPath);
    void refuseFile(int n, int number, const char *description, const QByteArray &response);
    void logConnect(int n, const QByteArray &localPath);
    void answerStatus(int n, const QByteArray &response);

    void pumpText(int n);
    void pumpFile(int n);
    void showProgress(int n);

    void reportListenerFailure(const QString &reason);
    void logError(int n, int number, const QByteArray &description);

    const Settings &m_settings;
    RequestLog &m_log;
    SlotStatus &m_status;
    FileNumbers &m_files;
    const QByteArray m_versionCaption;
    QLocale m_locale = QLocale::system();
    int m_requestTimeoutMs = RequestTimeoutMs;
    int m_sendTimeoutMs = SendTimeoutMs;
    int m_slotLimit = MaxSlots;

    WinsockArray m_wsock;
    QVector<Timer *> m_sendTimers;
    // One per slot: the request deadline until the request is in, then the
    // send timeout, restarted by every bit of progress.
    QVector<QTimer *> m_watchdogs;
    QVector<SlotInfo> m_slots;
    bool m_listenerFailed = false;
    quint64 m_connectionSerial = 0;
};
