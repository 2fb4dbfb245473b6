#include "web/WebServer.h"

#include "platform/FileNumbers.h"
#include "platform/FileSystem.h"
#include "platform/Yield.h"
#include "settings/Settings.h"
#include "web/DirListing.h"
#include "web/HttpText.h"
#include "web/IndexFile.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// Hidden names are never served, not even as a folder on the way to a file.
bool hasHiddenSegment(const QByteArray &requestPath)
{
    const QList<QByteArray> segments = percentDecoded(requestPath).split('/');
    return std::any_of(segments.cbegin(), segments.cend(), FileSystem::isHiddenName);
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
    auto *unused = new Timer(this);  // element 0 belongs to the listener, which sends nothing
    unused->setEnabled(false);
    unused->setInterval(0);
    m_sendTimers.append(unused);

    connect(&m_wsock, &WinsockArray::connectionRequested, this, &WebServer::WSock_ConnectionRequest);
    connect(&m_wsock, &WinsockArray::dataArrived, this, &WebServer::WSock_DataArrival);
    connect(&m_wsock, &WinsockArray::sendProgressed, this, &WebServer::WSock_SendProgress);
    connect(&m_wsock, &WinsockArray::sendCompleted, this, &WebServer::WSock_SendComplete);
    connect(&m_wsock, &WinsockArray::peerClosed, this, &WebServer::WSock_Close);
    connect(&m_wsock, &WinsockArray::errorOccurred, this, &WebServer::WSock_Error);
}

WebServer::~WebServer()
{
    for (const SlotInfo &slot : std::as_const(m_slots)) {
        if (slot.FileNum > 0)
            m_files.close(slot.FileNum);
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
    m_listenerFailed = false;
    listener->listen();
    // A listen that fails reports it as an error event; one that neither
    // listens nor fails must not hold up the clock either.
    const QDeadlineTimer deadline(ListenWaitMs);
    while (!m_listenerFailed && !deadline.hasExpired()) {
        yieldToEventLoop();
        if (listener->state() == Winsock::Listening) {
            m_status.setSlotText(0, QStringLiteral("Listening"));
            return true;
        }
    }
    if (!m_listenerFailed)
        reportListenerFailure(QStringLiteral("port %1 is not listening").arg(*port));
    return false;
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

void WebServer::WSock_ConnectionRequest(int index, qintptr requestId)
{
    if (index != 0)
        return;
    yieldToEventLoop();
    int n = freeSlot();
    if (n == 0)
        n = createSlot();
    if (n == 0) {
        // Connections that only hold a slot must not lock browsers out.
        n = oldestWaitingSlot();
        if (n != 0)
            WSock_Close(n);
    }
    if (n == 0) {
        // Every slot is busy: refused, so that the arrays cannot grow without bound.
        m_wsock.element(0)->rejectRequest(requestId);
        return;
    }
    SlotInfo &slot = m_slots[n];
    slot.FileNum = 0;
    slot.FilePath.clear();
    slot.TotalBytes = 0;
    slot.SentBytes = 0;
    slot.Received.clear();
    slot.Answered = false;
    slot.Connection = ++m_connectionSerial;
    m_wsock.element(n)->accept(requestId);
    armWatchdog(n, m_requestTimeoutMs);
}

int WebServer::freeSlot() const
{
    for (int n = 1; n <= m_wsock.ubound(); ++n) {
        if (m_wsock.element(n)->state() == Winsock::Closed)
            return n;
    }
    return 0;
}

// Socket, status line, record and pump timer of a new slot; 0 at the limit.
int WebServer::createSlot()
{
    const int n = m_wsock.ubound() + 1;
    if (n > m_slotLimit)
        return 0;
    m_wsock.load(n);
    m_status.loadSlot(n);
    m_slots.resize(n + 1);
    auto *pump = new Timer(this);
    pump->setEnabled(false);
    pump->setInterval(1);
    connect(pump, &Timer::ticked, this, [this, n] { TSendData_Timer(n); });
    m_sendTimers.append(pump);
    return n;
}

// The connected slot whose request is not complete and that came first (its
// connection serial is the lowest); 0 when every slot has its request.
int WebServer::oldestWaitingSlot() const
{
    int oldest = 0;
    for (int n = 1; n < m_slots.size(); ++n) {
        if (m_slots[n].Answered || m_wsock.element(n)->state() == Winsock::Closed)
            continue;
        if (oldest == 0 || m_slots[n].Connection < m_slots[oldest].Connection)
            oldest = n;
    }
    return oldest;
}

// A connection that never completes its request, or a transfer that stops
// moving, would hold its slot forever. One watchdog per slot, so that a busy
// server does not pile up a timer for every connection it ever had.
void WebServer::armWatchdog(int n, int ms)
{
    while (m_watchdogs.size() <= n) {
        auto *watchdog = new QTimer(this);
        watchdog->setSingleShot(true);
        const int slot = int(m_watchdogs.size());
        connect(watchdog, &QTimer::timeout, this, [this, slot] { watchdogExpired(slot); });
        m_watchdogs.append(watchdog);
    }
    m_watchdogs[n]->start(ms);
}

void WebServer::watchdogExpired(int n)
{
    if (!isSlot(n))
        return;
    if (m_slots[n].Answered) {
        const QByteArray seconds = QByteArray::number(m_sendTimeoutMs / 1000.0);
        logError(n, Winsock::TimedOut, "Send timed out: no progress for " + seconds + " s");
    }
    WSock_Close(n);
}

void WebServer::WSock_DataArrival(int index, qint64 /*bytesTotal*/)
{
    if (!isSlot(index))
        return;
    yieldToEventLoop();
    Winsock *socket = m_wsock.element(index);
    // A peer that went away during the yield is dealt with by its close event.
    if (socket->state() != Winsock::Connected)
        return;
    const QByteArray fresh = socket->getData();
    SlotInfo &slot = m_slots[index];
    // One request per connection: whatever follows it must not disturb the answer.
    if (slot.Answered)
        return;
    slot.Received += fresh;
    const RequestScan scan = scanRequest(slot.Received);
    if (scan.status == RequestStatus::Incomplete)
        return;
    slot.Answered = true;
    armWatchdog(index, m_sendTimeoutMs);
    slot.Received.clear();
    if (scan.status == RequestStatus::TooLong)
        answerStatus(index, notImplementedResponse(m_versionCaption));
    else
        handleRequest(index, scan.text);
}

void WebServer::handleRequest(int n, const QByteArray &text)
{
    if (!matchesRequestPattern(text))
        return answerStatus(n, notImplementedResponse(m_versionCaption));
    QByteArray requestPath = requestPathOf(text);
    const QByteArray webRoot = QFile::encodeName(m_settings.WebRoot);
    if (passesPathTests(requestPath) && !requestPath.startsWith('/')) {
        // Nothing is served for it, but it is a request like any other.
        logConnect(n, webRoot + percentDecoded(requestPath));
        return answerStatus(n, notFoundResponse(m_versionCaption));
    }
    const std::optional<QByteArray> mapped = passesPathTests(requestPath)
        ? localPathFor(webRoot, requestPath)
        : std::nullopt;
    if (!mapped)
        return answerStatus(n, notFoundResponse(m_versionCaption));
    QByteArray localPath = *mapped;
    logConnect(n, localPath);
    if (!FileSystem::exists(localPath) || hasHiddenSegment(requestPath))
        return answerStatus(n, notFoundResponse(m_versionCaption));
    if (FileSystem::isFolder(localPath))
        addIndexFile(localPath, requestPath);
    if (FileSystem::isFolder(localPath))
        return answerListing(n, requestPath);
    answerFile(n, requestPath, localPath);
}

void WebServer::logConnect(int n, const QByteArray &localPath)
{
    if (!m_settings.LogC)
        return;
    const QByteArray peer = m_wsock.element(n)->remoteHostIP().toLatin1();
    m_log.WriteLog(RequestLog::connectLine(QDateTime::currentDateTime(), peer, localPath, m_locale));
}

// A folder is answered with its index file, when it has one, without a redirect.
void WebServer::addIndexFile(QByteArray &localPath, QByteArray &requestPath) const
{
    const QByteArray name = FindIndexFile(localPath, QFile::encodeName(m_settings.IndexHTML));
    if (name.isEmpty())
        return;
    localPath += (localPath.endsWith('/') ? "" : "/") + name;
    requestPath += (requestPath.endsWith('/') ? "" : "/") + name;
}

void WebServer::answerListing(int n, const QByteArray &requestPath)
{
    const QByteArray body = DirListing(QFile::encodeName(m_settings.WebRoot), requestPath, m_locale);
    const QByteArray header = okHeader("Content-Type: text/html", body.size(), m_versionCaption);
    SlotInfo &slot = m_slots[n];
    slot.SendBuf = body;
    slot.FileNum = -1;
    slot.TotalBytes = qint32(header.size() + body.size());
    m_wsock.element(n)->sendData(header);
}

void WebServer::answerFile(int n, const QByteArray &requestPath, const QByteArray &localPath)
{
    const int number = m_files.lowestFree();
    // The file is there, the server is only busy: the browser may try again.
    if (number == 0)
        return refuseFile(n, TooManyFiles.number, TooManyFiles.description,
                          serviceUnavailableResponse(m_versionCaption));
    if (!m_files.openForReading(number, localPath))
        return refuseFile(n, FileAccess.number, FileAccess.description, notFoundResponse(m_versionCaption));
    const qint64 length = m_files.file(number)->size();
    const QByteArray header = okHeader(contentTypeLine(requestPath), length, m_versionCaption);
    if (length > std::numeric_limits<qint32>::max() - header.size()) {
        m_files.close(number);  // beyond the 32-bit byte counts
        return refuseFile(n, Overflow.number, Overflow.description, notFoundResponse(m_versionCaption));
    }
    m_status.setSlotText(n, Transfering + shown(requestPath));
    SlotInfo &slot = m_slots[n];
    slot.FilePath = requestPath;
    slot.FileNum = qint16(number);
    slot.FileLength = length;
    slot.TotalBytes = qint32(length + header.size());
    m_wsock.element(n)->sendData(header);
}

// The reason a file cannot be served goes to the log, not to the client.
void WebServer::refuseFile(int n, int number, const char *description, const QByteArray &response)
{
    logError(n, number, description);
    answerStatus(n, response);
}

void WebServer::answerStatus(int n, const QByteArray &response)
{
    m_slots[n].TotalBytes = qint32(response.size());
    m_wsock.element(n)->sendData(response);
}

void WebServer::WSock_SendProgress(int index, qint64 bytesSent, qint64 /*bytesRemaining*/)
{
    if (!isSlot(index))
        return;
    armWatchdog(index, m_sendTimeoutMs);
    m_slots[index].SentBytes += qint32(bytesSent);
    if (m_slots[index].FileNum > 0)
        showProgress(index);
}

void WebServer::showProgress(int n)
{
    const SlotInfo &slot = m_slots[n];
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
    if (!isSlot(index))
        return;
    if (m_slots[index].SentBytes >= m_slots[index].TotalBytes) {
        WSock_Close(index);
        return;
    }
    const quint64 connection = m_slots[index].Connection;
    yieldToEventLoop();
    if (m_slots[index].Connection != connection)
        return;  // closed during the yield, perhaps taken by a new connection already
    m_sendTimers[index]->setInterval(1);
    m_sendTimers[index]->setEnabled(true);
}

void WebServer::TSendData_Timer(int index)
{
    if (!isSlot(index))
        return;
    // Disarmed before anything else: while the file branch yields, this slot
    // may close and be armed anew for its next connection, and that must stand.
    m_sendTimers[index]->setEnabled(false);
    if (m_slots[index].FileNum == -1)
        pumpText(index);
    else if (m_slots[index].FileNum > 0)
        pumpFile(index);
}

void WebServer::pumpText(int n)
{
    SlotInfo &slot = m_slots[n];
    const QByteArray chunk = slot.SendBuf.left(ChunkSize);
    slot.SendBuf.remove(0, ChunkSize);
    if (slot.SendBuf.isEmpty())
        slot.FileNum = 0;
    // A peer that has gone is dealt with by its close event.
    if (m_wsock.element(n)->state() == Winsock::Connected)
        m_wsock.element(n)->sendData(chunk);
}

void WebServer::pumpFile(int n)
{
    QFile *file = m_files.file(m_slots[n].FileNum);
    const qint64 size = std::min<qint64>(ChunkSize, m_slots[n].FileLength - file->pos());
    const QByteArray chunk = file->read(size);
    if (chunk.size() < size) {
        // Cut short in place while it was sent: the promised length cannot be kept.
        logError(n, InputPastEnd.number, InputPastEnd.description);
        WSock_Close(n);
        return;
    }
    if (m_wsock.element(n)->state() != Winsock::Connected)
        return;  // the chunk is dropped; the close event follows
    const quint64 connection = m_slots[n].Connection;
    yieldToEventLoop();
    if (m_slots[n].Connection != connection)
        return;  // closed during the yield: its file is closed too
    m_wsock.element(n)->sendData(chunk);
    if (file->pos() >= m_slots[n].FileLength) {
        m_files.close(m_slots[n].FileNum);
        m_slots[n].FileNum = 0;
    }
}

void WebServer::WSock_Close(int index)
{
    if (!isSlot(index))
        return;
    m_sendTimers[index]->setEnabled(false);
    if (index < m_watchdogs.size())
        m_watchdogs[index]->stop();
    // NOTE: close() is immediate, so there is no waiting for the socket here.
    // A wait would yield, a connection request could take this slot meanwhile,
    // and the rest of this routine would then reset the new connection.
    m_wsock.element(index)->close();
    SlotInfo &slot = m_slots[index];
    if (slot.FileNum > 0)
        m_files.close(slot.FileNum);
    slot.FileNum = 0;
    slot.FilePath.clear();
    slot.TotalBytes = 0;
    slot.SentBytes = 0;
    slot.SendBuf.clear();
    slot.Received.clear();
    slot.Connection = ++m_connectionSerial;
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
    if (!isSlot(index))
        return;
    logError(index, number, description.toUtf8());
    WSock_Close(index);
}

void WebServer::reportListenerFailure(const QString &reason)
{
    m_listenerFailed = true;
    m_wsock.element(0)->close();
    const QString text = QStringLiteral("Web server not running: ") + reason;
    m_status.setSlotText(0, text);
    std::fprintf(stderr, "quorandel: %s\n", qUtf8Printable(text));
}

void WebServer::logError(int n, int number, const QByteArray &description)
{
    if (m_settings.LogE)
        m_log.WriteLog(RequestLog::errorLine(QDateTime::currentDateTime(), n, number, description, m_locale));
}
