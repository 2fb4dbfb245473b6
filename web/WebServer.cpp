// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebServer.h"

#include "platform/FileNumbers.h"
#include "platform/Log.h"
#include "settings/Settings.h"
#include "web/HttpText.h"
#include "web/WebRootAnswers.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"

#include <QDateTime>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Numbers and texts of the log's error lines, the ones the program's users
// know from its earlier versions.
struct ErrorText
{
    int number;
    const char *description;
};
const ErrorText Overflow{6, "Overflow"};
const ErrorText DivisionByZero{11, "Division by zero"};
const ErrorText InputPastEnd{62, "Input past end of file"};
const ErrorText TooManyFiles{67, "Too many files"};
const ErrorText FileAccess{75, "Path/File access error"};

const QString Closed = QStringLiteral("Closed");
const QString Transfering = QStringLiteral("Transfering: ");

// Wire bytes shown as text, one character per byte.
QString shown(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// "00.00": at least two digits before the separator and never grouped, since
// a tiny file shows thousands of per cent (the header counts as sent).
QString percentText(double percent, QLocale locale)
{
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = locale.toString(percent, 'f', 2);
    if (text.indexOf(locale.decimalPoint()) < 2)
        text.prepend(locale.zeroDigit());
    return text;
}

}  // namespace

WebServer::WebServer(const Settings &settings, RequestLog &log, SlotStatus &status, FileNumbers &files,
                     const QString &versionCaption, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_log(log)
    , m_status(status)
    , m_files(files)
    , m_versionCaption(versionCaption.toLatin1())
{
    m_slots.resize(1);  // element 0 belongs to the listener, which has no slot
    connect(&m_wsock, &WinsockArray::connectionRequested, this, &WebServer::WSock_ConnectionRequest);
    connect(&m_wsock, &WinsockArray::dataArrived, this, &WebServer::WSock_DataArrival);
    connect(&m_wsock, &WinsockArray::sendProgressed, this, &WebServer::WSock_SendProgress);
    connect(&m_wsock, &WinsockArray::sendCompleted, this, &WebServer::WSock_SendComplete);
    connect(&m_wsock, &WinsockArray::peerClosed, this, &WebServer::WSock_Close);
    connect(&m_wsock, &WinsockArray::errorOccurred, this, &WebServer::WSock_Error);
    m_clock.start();
    setSendTimeout(SendTimeoutMs);
    connect(&m_stallCheck, &QTimer::timeout, this, &WebServer::closeStalledStreams);
    m_keepAlive.setInterval(KeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        // The comment keeps proxies from timing the stream out; the named
        // event is what a page's EventSource can actually see.
        if (sendEvent(": keep-alive\n\nevent: ping\ndata: {}\n\n") == 0)
            m_keepAlive.stop();
    });
}

WebServer::~WebServer()
{
    for (const auto &slot : m_slots) {
        if (slot && slot->info().FileNum > 0)
            m_files.close(slot->info().FileNum);
    }
}

bool WebServer::startListening()
{
    const std::optional<quint16> port = m_settings.portNumber();
    if (!port) {
        reportListenerFailure(QStringLiteral("\"%1\" is not a port number").arg(m_settings.LPort));
        return false;
    }
    Winsock *listener = m_wsock.element(0);
    listener->close();
    listener->setLocalPort(*port);
    listener->listen();
    if (listener->state() != Winsock::Listening) {
        // Told now; the error's event is dropped with the close that follows.
        reportListenerFailure(QStringLiteral("port %1, Error %2 - %3")
                                  .arg(QString::number(*port), QString::number(listener->lastErrorNumber()),
                                       listener->lastErrorText()));
        return false;
    }
    m_status.setSlotText(0, QStringLiteral("Listening"));
    return true;
}

// Checked often enough that a stream is closed within a small part of the
// timeout after it has run out.
void WebServer::setSendTimeout(int ms)
{
    m_sendTimeoutMs = ms;
    m_stallCheck.setInterval(std::clamp(ms / 8, 10, 1000));
}

bool WebServer::isListening() const
{
    return m_wsock.element(0)->state() == Winsock::Listening;
}

QString WebServer::localIP() const
{
    return m_wsock.element(0)->localIP();
}

quint16 WebServer::localPort() const
{
    return m_wsock.element(0)->localPort();
}

ConnectionSlot *WebServer::slotAt(int n) const
{
    return n >= 1 && n < int(m_slots.size()) ? m_slots[size_t(n)].get() : nullptr;
}

const SlotInfo &WebServer::Slots(int n) const
{
    static const SlotInfo none;
    const ConnectionSlot *slot = slotAt(n);
    return slot ? slot->info() : none;
}

void WebServer::WSock_ConnectionRequest(int index, qintptr requestId)
{
    if (index != 0)
        return;
    int n = freeSlot();
    if (n == 0)
        n = createSlot();
    if (n == 0) {
        // Connections that only hold a slot must not lock browsers out, and a
        // page can reconnect its stream more easily than a browser can wait.
        n = oldestWaitingSlot();
        if (n == 0)
            n = oldestStream();
        if (n != 0)
            WSock_Close(n);
    }
    if (n == 0) {
        // Every slot is busy: refused, so that the arrays cannot grow without bound.
        m_wsock.element(0)->rejectRequest(requestId);
        return;
    }
    slotAt(n)->begin(*m_wsock.element(0), requestId, ++m_arrivals, m_requestTimeoutMs);
}

int WebServer::freeSlot() const
{
    for (int n = 1; n < int(m_slots.size()); ++n) {
        if (m_slots[size_t(n)]->isFree())
            return n;
    }
    return 0;
}

// Socket, status line and slot of a new connection; 0 at the limit.
int WebServer::createSlot()
{
    const int n = int(m_slots.size());
    if (n > m_slotLimit)
        return 0;
    Winsock *socket = m_wsock.load(n);
    m_status.loadSlot(n);
    auto slot = std::make_unique<ConnectionSlot>(n, socket, m_files, this);
    connect(slot.get(), &ConnectionSlot::watchdogExpired, this, &WebServer::watchdogExpired);
    m_slots.push_back(std::move(slot));
    return n;
}

// The connected slot that came first of those `which` picks; 0 when none.
int WebServer::oldestSlot(const std::function<bool(const SlotInfo &)> &which) const
{
    const ConnectionSlot *oldest = nullptr;
    for (const auto &slot : m_slots) {
        if (!slot || slot->isFree() || !which(slot->info()))
            continue;
        if (!oldest || slot->info().Arrival < oldest->info().Arrival)
            oldest = slot.get();
    }
    return oldest ? oldest->index() : 0;
}

// The oldest connection whose request is not complete.
int WebServer::oldestWaitingSlot() const
{
    return oldestSlot([](const SlotInfo &slot) { return !slot.Answered; });
}

// The oldest events stream, of one client address or (empty) of all.
int WebServer::oldestStream(const QByteArray &peer) const
{
    return oldestSlot([&peer](const SlotInfo &slot) { return slot.Events && (peer.isEmpty() || slot.Peer == peer); });
}

int WebServer::streamCount(const QByteArray &peer) const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [&peer](const auto &slot) {
        return slot && !slot->isFree() && slot->info().Events && (peer.isEmpty() || slot->info().Peer == peer);
    }));
}

// A connection that never completes its request, or a transfer that stops
// moving, would hold its slot forever.
void WebServer::watchdogExpired(int n)
{
    if (!slotAt(n))
        return;
    if (slotAt(n)->info().Answered) {
        const QByteArray seconds = QByteArray::number(m_sendTimeoutMs / 1000.0);
        logError(n, Winsock::TimedOut, "Send timed out: no progress for " + seconds + " s");
    }
    WSock_Close(n);
}

void WebServer::WSock_DataArrival(int index, qint64 /*bytesTotal*/)
{
    if (!slotAt(index))
        return;
    Winsock *socket = m_wsock.element(index);
    // Nothing can be sent to a peer that has gone: its close event follows.
    if (socket->state() != Winsock::Connected)
        return;
    const QByteArray fresh = socket->getData();
    SlotInfo &slot = slotAt(index)->info();
    // One request per connection: whatever follows it is dropped, so that it
    // can neither disturb the answer nor pile up.
    if (slot.Answered)
        return;
    slot.Received += fresh;
    const RequestScan scan = scanRequest(slot.Received);
    if (scan.status == RequestStatus::Incomplete)
        return;
    slot.Answered = true;
    slot.Received.clear();
    slotAt(index)->armWatchdog(m_sendTimeoutMs);
    answerScan(index, scan);
}

void WebServer::answerScan(int n, const RequestScan &scan)
{
    switch (scan.status) {
    case RequestStatus::Complete: {
        const HttpRequest request = parseRequest(scan.text);
        return send(n, resolve(n, request));
    }
    case RequestStatus::BodyTooLarge:
        return sendResponse(n, textResponse("413 Payload Too Large", m_versionCaption, "The body is larger than 1 KiB."));
    case RequestStatus::LengthRequired:
        return sendResponse(n, textResponse("411 Length Required", m_versionCaption, "A body needs its Content-Length."));
    case RequestStatus::BadLength:
        return sendResponse(n, textResponse("400 Bad Request", m_versionCaption, "The Content-Length is not a number."));
    case RequestStatus::NulByte:
        return sendResponse(n, textResponse("400 Bad Request", m_versionCaption, "The request line or a header holds a NUL byte."));
    case RequestStatus::HeadersTooLarge:
        return sendResponse(n, textResponse("431 Request Header Fields Too Large", m_versionCaption,
                                            "The header block is larger than 8 KiB."));
    default:
        return sendResponse(n, notImplementedResponse(m_versionCaption));
    }
}

WebAnswer WebServer::resolve(int n, const HttpRequest &request) const
{
    if (request.builtIn) {
        const auto route = m_routes.constFind(request.rawPath);
        if (route == m_routes.constEnd())
            return WebAnswer::status(textResponse("404 Not Found", m_versionCaption, "No such page."));
        return (*route)(request, m_wsock.element(n)->remoteHostIP().toLatin1());
    }
    const WebRoot root{QFile::encodeName(m_settings.WebRoot), QFile::encodeName(m_settings.IndexHTML),
                       m_versionCaption, m_locale};
    return answerFromWebRoot(request, root);
}

void WebServer::send(int n, const WebAnswer &answer)
{
    if (!answer.logPath.isNull())
        logConnect(n, answer.logPath);
    switch (answer.kind) {
    case WebAnswer::Status:
        return sendResponse(n, answer.head);
    case WebAnswer::File:
        return sendFile(n, answer);
    case WebAnswer::Events:
        return openEvents(n, answer);
    case WebAnswer::Later:
        return sendWhenReady(n, answer);
    case WebAnswer::Text: {
        SlotInfo &slot = slotAt(n)->info();
        slot.SendBuf = answer.body;
        slot.FileNum = answer.body.isEmpty() ? 0 : -1;
        slot.TotalBytes = qint32(answer.head.size() + answer.body.size());
        m_wsock.element(n)->sendData(answer.head);
        return;
    }
    }
}

// Sent only to the connection that asked: the slot may have closed, or even
// been taken by another connection, while the answer was being made.
void WebServer::sendWhenReady(int n, const WebAnswer &answer)
{
    const quint64 connection = slotAt(n)->info().Arrival;
    const auto wanted = [this, n, connection] { return slotAt(n)->info().Arrival == connection; };
    answer.later(this, wanted, [this, n](const WebAnswer &ready) { send(n, ready); });
}

// The stream's slot is held by its request from now on: no request deadline,
// and only the send timeout while something waits to go out.
void WebServer::openEvents(int n, const WebAnswer &answer)
{
    ConnectionSlot &slot = *slotAt(n);
    makeRoomForStream(slot.info().Peer);
    slot.stopWatchdog();
    slot.info().Events = true;
    slot.info().UnsentFellAt = m_clock.elapsed();
    m_status.setSlotText(n, QStringLiteral("Events stream"));
    sendToStream(slot, answer.head + answer.body);
    if (!m_keepAlive.isActive())
        m_keepAlive.start();
    if (!m_stallCheck.isActive())
        m_stallCheck.start();
}

// A phone that reconnects after losing its network replaces its old stream
// instead of adding one.
void WebServer::makeRoomForStream(const QByteArray &peer)
{
    while (streamCount(peer) >= std::max(1, m_streamsPerAddress))
        WSock_Close(oldestStream(peer));
    while (streamCount() >= std::max(1, m_slotLimit / 2))
        WSock_Close(oldestStream());
}

int WebServer::sendEvent(const QByteArray &event)
{
    int streams = 0;
    for (const auto &slot : m_slots) {
        if (!slot || !slot->info().Events || slot->socket()->state() != Winsock::Connected)
            continue;
        sendToStream(*slot, event);
        ++streams;
    }
    return streams;
}

// Every event written adds to what waits, so only a fall of what waits shows
// that the reader is still reading.
void WebServer::sendToStream(ConnectionSlot &slot, const QByteArray &data)
{
    noteUnsent(slot.info(), slot.socket()->unsentBytes());
    slot.info().TotalBytes += qint32(data.size());
    slot.info().Unsent += data.size();
    slot.socket()->sendData(data);
}

void WebServer::noteUnsent(SlotInfo &slot, qint64 unsent)
{
    if (unsent == 0 || unsent < slot.Unsent)
        slot.UnsentFellAt = m_clock.elapsed();
    slot.Unsent = unsent;
}

void WebServer::closeStalledStreams()
{
    const QByteArray seconds = QByteArray::number(m_sendTimeoutMs / 1000.0);
    bool anyStream = false;
    for (const auto &slot : m_slots) {
        if (!slot || slot->isFree() || !slot->info().Events)
            continue;
        anyStream = true;
        noteUnsent(slot->info(), slot->socket()->unsentBytes());
        if (m_clock.elapsed() - slot->info().UnsentFellAt < m_sendTimeoutMs)
            continue;
        logError(slot->index(), Winsock::TimedOut,
                 "Events stream stalled: the reader has taken nothing for " + seconds + " s");
        WSock_Close(slot->index());
    }
    if (!anyStream)
        m_stallCheck.stop();
}

void WebServer::logConnect(int n, const QByteArray &localPath)
{
    if (!m_settings.LogC)
        return;
    const QByteArray peer = m_wsock.element(n)->remoteHostIP().toLatin1();
    m_log.WriteLog(RequestLog::connectLine(QDateTime::currentDateTime(), peer, localPath, m_locale));
}

void WebServer::sendFile(int n, const WebAnswer &answer)
{
    const int number = m_files.lowestFree();
    // The file is there, the server is only busy: the browser may try again.
    if (number == 0)
        return refuseFile(n, TooManyFiles.number, TooManyFiles.description,
                          serviceUnavailableResponse(m_versionCaption));
    if (!m_files.openForReading(number, answer.localPath))
        return refuseFile(n, FileAccess.number, FileAccess.description, notFoundResponse(m_versionCaption));
    const qint64 length = m_files.file(number)->size();
    const QByteArray header = okHeader(contentTypeLine(answer.requestPath), length, m_versionCaption);
    if (length > std::numeric_limits<qint32>::max() - header.size()) {
        m_files.close(number);  // beyond the 32-bit byte counts
        return refuseFile(n, Overflow.number, Overflow.description, notFoundResponse(m_versionCaption));
    }
    m_status.setSlotText(n, Transfering + shown(answer.requestPath));
    SlotInfo &slot = slotAt(n)->info();
    slot.FilePath = answer.requestPath;
    slot.FileNum = qint16(number);
    slot.FileLength = length;
    slot.TotalBytes = qint32(length + header.size());
    m_wsock.element(n)->sendData(header);
}

// The reason a file cannot be served goes to the log, not to the client.
void WebServer::refuseFile(int n, int number, const char *description, const QByteArray &response)
{
    logError(n, number, description);
    sendResponse(n, response);
}

void WebServer::sendResponse(int n, const QByteArray &response)
{
    slotAt(n)->info().TotalBytes = qint32(response.size());
    m_wsock.element(n)->sendData(response);
}

void WebServer::WSock_SendProgress(int index, qint64 bytesSent, qint64 /*bytesRemaining*/)
{
    ConnectionSlot *slot = slotAt(index);
    if (!slot)
        return;
    if (!slot->info().Events)
        slot->armWatchdog(m_sendTimeoutMs);
    slot->info().SentBytes += qint32(bytesSent);
    if (slot->info().FileNum > 0)
        showProgress(index);
}

void WebServer::showProgress(int n)
{
    const SlotInfo &slot = slotAt(n)->info();
    if (slot.FileLength == 0) {
        // An empty file has no percentage; its header goes out all the same.
        logError(n, DivisionByZero.number, DivisionByZero.description);
        return;
    }
    const double percent = double(slot.SentBytes) / double(slot.FileLength) * 100.0;
    m_status.setSlotText(n, Transfering + shown(slot.FilePath) + QStringLiteral(" - ")
                                + QString::number(slot.SentBytes) + QStringLiteral(" of ")
                                + QString::number(slot.FileLength) + QStringLiteral(" bytes sent (")
                                + percentText(percent, m_locale) + QStringLiteral("% Done)."));
}

void WebServer::WSock_SendComplete(int index)
{
    ConnectionSlot *slot = slotAt(index);
    if (!slot)
        return;
    if (slot->info().Events)
        return;  // a stream's pace is its reader's; see closeStalledStreams()
    if (slot->info().SentBytes >= slot->info().TotalBytes) {
        WSock_Close(index);
        return;
    }
    sendNextChunk(index);
}

// One chunk at a time, so that a large answer never waits in this process
// as a whole and the socket's completion paces the file's reads.
void WebServer::sendNextChunk(int n)
{
    const SlotInfo &slot = slotAt(n)->info();
    if (slot.FileNum == -1)
        sendTextChunk(n);
    else if (slot.FileNum > 0)
        sendFileChunk(n);
}

void WebServer::sendTextChunk(int n)
{
    SlotInfo &slot = slotAt(n)->info();
    const QByteArray chunk = slot.SendBuf.left(ChunkSize);
    slot.SendBuf.remove(0, ChunkSize);
    if (slot.SendBuf.isEmpty())
        slot.FileNum = 0;
    // A peer that has gone is dealt with by its close event.
    if (m_wsock.element(n)->state() == Winsock::Connected)
        m_wsock.element(n)->sendData(chunk);
}

void WebServer::sendFileChunk(int n)
{
    SlotInfo &slot = slotAt(n)->info();
    QFile *file = m_files.file(slot.FileNum);
    const qint64 size = std::min<qint64>(ChunkSize, slot.FileLength - file->pos());
    const QByteArray chunk = file->read(size);
    if (chunk.size() < size) {
        // Cut short in place while it was sent: the promised length cannot be kept.
        logError(n, InputPastEnd.number, InputPastEnd.description);
        WSock_Close(n);
        return;
    }
    if (m_wsock.element(n)->state() != Winsock::Connected)
        return;  // the chunk is dropped; the close event follows
    m_wsock.element(n)->sendData(chunk);
    if (file->pos() >= slot.FileLength) {
        m_files.close(slot.FileNum);
        slot.FileNum = 0;
    }
}

void WebServer::WSock_Close(int index)
{
    ConnectionSlot *slot = slotAt(index);
    if (!slot)
        return;
    slot->reset();
    m_status.setSlotText(index, Closed);
}

// One browser going away must not take the server, let alone the clock, with it.
void WebServer::WSock_Error(int index, int number, const QString &description)
{
    if (index == 0) {
        reportListenerFailure(QStringLiteral("port %1, Error %2 - %3")
                                  .arg(QString::number(m_wsock.element(0)->localPort()),
                                       QString::number(number), description));
        return;
    }
    if (!slotAt(index))
        return;
    logError(index, number, description.toUtf8());
    WSock_Close(index);
}

void WebServer::reportListenerFailure(const QString &reason)
{
    m_wsock.element(0)->close();
    const QString text = QStringLiteral("Web server not running: ") + reason;
    m_status.setSlotText(0, text);
    qCWarning(lcQuorandel).noquote() << text;
}

void WebServer::logError(int n, int number, const QByteArray &description)
{
    if (m_settings.LogE)
        m_log.WriteLog(RequestLog::errorLine(QDateTime::currentDateTime(), n, number, description, m_locale));
}
