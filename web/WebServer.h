// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/WinsockArray.h"
#include "web/ConnectionSlot.h"
#include "web/HttpRequest.h"
#include "web/WebAnswer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

class FileNumbers;
class RequestLog;
class SlotStatus;
struct Settings;

// The embedded HTTP/1.0 file server: one listener (WSock element 0) and one
// slot per simultaneous connection, each answering a single request, from the
// web root or from a built-in route, and sending the body in chunks of
// ChunkSize, each as soon as the socket has handed the previous one to the OS.
//
// A request flows one way: the slot collects bytes until scanRequest() finds a
// request, parseRequest() makes it a value, a route or the web root resolves
// that to one WebAnswer, and the server only sends the answer.
//
// Nothing a peer does ends the program: socket errors close only the slot they
// happen on, and a listener that cannot run leaves the rest of the program
// running without the web server. When every slot is taken, a new connection
// takes the slot of the one that has waited longest without a complete
// request, or else the slot of the oldest events stream; it is refused only
// while every slot has another request in progress.
//
// Events streams are capped, so that one client (a page reloaded in a loop)
// or a crowd cannot hold every slot: a client address keeps at most
// StreamsPerAddress of them, all together at most half the slots; a stream
// beyond either cap closes the oldest one it competes with. A stream whose
// reader has stopped reading (what waits for it has not gone down for the
// send timeout) is closed.
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
    static constexpr int StreamsPerAddress = 4;
    // An events stream that has nothing to say still says so this often, so
    // that idle connections are not dropped by the network in between.
    static constexpr int KeepAliveMs = 15000;

    // Answers one built-in page: the request, and the address it came from.
    using Route = std::function<WebAnswer(const HttpRequest &request, const QByteArray &peerAddress)>;

    WebServer(const Settings &settings, RequestLog &log, SlotStatus &status, FileNumbers &files,
              const QString &versionCaption, QObject *parent = nullptr);
    ~WebServer() override;

    // Binds the listener to the settings' LPort; slot text 0 then reads
    // "Listening". False when it cannot: the
    // reason is in slot text 0 and on stderr, and the program runs on without
    // the web server.
    bool startListening();
    bool isListening() const;
    // The listener's address (dotted IPv4 of this machine) and bound port,
    // for the window's address line.
    QString localIP() const;
    quint16 localPort() const;

    // A built-in page at exactly `path` (under BuiltInPrefix), answered ahead
    // of the web root.
    void addRoute(const QByteArray &path, Route route) { m_routes.insert(path, std::move(route)); }

    // Decimal separator of the progress texts and format of the log's dates.
    void setLocale(const QLocale &locale) { m_locale = locale; }
    // How long a connection may take to send its request.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    // How long a transfer may go without progress, and an events stream
    // without its reader taking anything.
    void setSendTimeout(int ms);
    void setStreamsPerAddress(int count) { m_streamsPerAddress = count; }
    void setKeepAliveInterval(int ms) { m_keepAlive.setInterval(ms); }
    // Fewer slots than MaxSlots, so that a test can fill them all cheaply.
    void setSlotLimit(int count) { m_slotLimit = std::min(count, int(MaxSlots)); }

    // Writes an event to every open events stream; the number of streams.
    int sendEvent(const QByteArray &event);

    WinsockArray &WSock() { return m_wsock; }
    const WinsockArray &WSock() const { return m_wsock; }
    // The state of slot n (n from 1); an empty one for a slot that does not exist.
    const SlotInfo &Slots(int n) const;

    void WSock_ConnectionRequest(int index, qintptr requestId);
    void WSock_DataArrival(int index, qint64 bytesTotal);
    void WSock_SendProgress(int index, qint64 bytesSent, qint64 bytesRemaining);
    void WSock_SendComplete(int index);
    void WSock_Close(int index);
    void WSock_Error(int index, int number, const QString &description);

private:
    ConnectionSlot *slotAt(int n) const;
    int freeSlot() const;
    int createSlot();
    int oldestSlot(const std::function<bool(const SlotInfo &)> &which) const;
    int oldestWaitingSlot() const;
    int oldestStream(const QByteArray &peer = {}) const;
    int streamCount(const QByteArray &peer = {}) const;
    void watchdogExpired(int n);

    void answerScan(int n, const RequestScan &scan);
    WebAnswer resolve(int n, const HttpRequest &request) const;
    void send(int n, const WebAnswer &answer);
    void sendWhenReady(int n, const WebAnswer &answer);
    void sendFile(int n, const WebAnswer &answer);
    void refuseFile(int n, int number, const char *description, const QByteArray &response);
    void sendResponse(int n, const QByteArray &response);
    void openEvents(int n, const WebAnswer &answer);
    void makeRoomForStream(const QByteArray &peer);
    void sendToStream(ConnectionSlot &slot, const QByteArray &data);
    void noteUnsent(SlotInfo &slot, qint64 unsent);
    void closeStalledStreams();
    void logConnect(int n, const QByteArray &localPath);

    void sendNextChunk(int n);
    void sendTextChunk(int n);
    void sendFileChunk(int n);
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
    int m_streamsPerAddress = StreamsPerAddress;

    WinsockArray m_wsock;
    std::vector<std::unique_ptr<ConnectionSlot>> m_slots;  // index 0 (the listener) stays empty
    QHash<QByteArray, Route> m_routes;
    QTimer m_keepAlive;
    QTimer m_stallCheck;
    QElapsedTimer m_clock;  // the streams' stall times
    quint64 m_arrivals = 0;
};
