// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/ExtensionSettings.h"
#include "web/HttpRequest.h"
#include "web/SlotRules.h"
#include "web/WebAnswer.h"
#include "web/WebConnection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

class FileNumbers;
class RequestLog;
class SlotStatus;
struct Settings;

// The embedded HTTP/1.0 file server: one listener and one slot per
// simultaneous connection (slot n: the connection's WebConnection, its record
// Slots(n) and its status line n), each answering a single request, from the
// web root or from a built-in route.
//
// A request flows one way: the connection collects bytes until scanRequest()
// hands back a request, the server resolves it (a route or the web root) to
// one WebAnswer, and the connection only sends the answer.
//
// Nothing a peer does ends the program: socket errors close only the
// connection they happen on, and a listener that cannot run leaves the rest
// of the program running without the web server. Who gets a slot when they
// run short, and which events streams give way to a new one, is said in
// SlotRules.h.
//
// An events stream leaves its slot as soon as its request is known, for the
// table of streams: thousands of pages can listen without taking a slot, a
// file number or a status line each. An event is written to every stream in
// one pass, its bytes shared by all of them; a stream whose reader has
// stopped reading (what waits for it has not gone down for the send timeout)
// is closed.
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
    static constexpr int DefaultStreamCapacity = ExtensionSettings::Remote::DefaultStreams;
    static constexpr int MinStreamCapacity = ExtensionSettings::Remote::MinStreams;
    // Descriptors beyond the streams, slots and files: the listener, the
    // publishers' sockets, the log and settings files, Qt's own, and
    // connections still closing.
    static constexpr int DescriptorMargin = 128;
    // An events stream that has nothing to say still says so this often, so
    // that idle connections are not dropped by the network in between.
    static constexpr int KeepAliveMs = 15000;

    // Answers one built-in page: the request, and the address it came from.
    using Route = std::function<WebAnswer(const HttpRequest &request, const QByteArray &peerAddress)>;

    // How many descriptors the program needs for `streams` streams besides
    // every slot and file number, and how many streams fit in a limit of
    // `openFiles` (MinStreamCapacity at the least, `wanted` at the most).
    static qint64 descriptorsFor(int streams);
    static int streamsThatFit(qint64 openFiles, int wanted);

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
    // How many streams may be open at once; the oldest gives way past it.
    void setStreamCapacity(int count) { m_streamCapacity = count; }
    int streamCapacity() const { return m_streamCapacity; }
    int streamCount() const { return int(m_streams.size()); }
    void setKeepAliveInterval(int ms) { m_keepAlive.setInterval(ms); }
    // Fewer slots than MaxSlots, so that a test can fill them all cheaply.
    void setSlotLimit(int count) { m_slotLimit = std::min(count, int(MaxSlots)); }

    // Writes an event to every open events stream; the number of streams.
    int sendEvent(const QByteArray &event);

    // The record of slot n (n from 1); an empty one for a free slot or one
    // that does not exist.
    const SlotInfo &Slots(int n) const;

signals:
    // The number of open events streams, told a moment after it changes (a
    // crowd arriving is one message, not one per page).
    void streamsCounted(int count);

private:
    friend class WebConnection;  // the server's own part: the answers, the log and the status lines

    void WSock_ConnectionRequest();
    void take(QTcpSocket *socket);
    std::vector<SlotState> slotStates() const;
    void connectionEnded(WebConnection *connection, int slot);

    WebAnswer answerFor(const RequestScan &scan, const QByteArray &peer) const;
    WebAnswer resolve(const HttpRequest &request, const QByteArray &peer) const;
    void streamOpening(WebConnection *connection);
    void countStreams();
    void closeStalledStreams();

    void reportListenerFailure(const QString &reason);
    void logError(int n, int number, const QByteArray &description) const;
    void logConnect(const QByteArray &peer, const QByteArray &localPath) const;
    QByteArray sendTimeoutText() const;

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
    int m_streamCapacity = DefaultStreamCapacity;

    QTcpServer m_listener;
    quint16 m_port = 0;  // the port asked for, told while the listener does not run
    std::vector<WebConnection *> m_slots;  // the connection of slot n, null while free; 0 stays empty
    std::vector<WebConnection *> m_streams;  // in the order they became streams
    QTimer m_countLater;
    int m_countTold = 0;
    QHash<QByteArray, Route> m_routes;
    QTimer m_keepAlive;
    QTimer m_stallCheck;
    QElapsedTimer m_clock;  // the streams' stall times
    quint64 m_arrivals = 0;
};
