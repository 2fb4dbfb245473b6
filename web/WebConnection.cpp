// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebConnection.h"

#include "net/DottedAddress.h"
#include "net/LingeringClose.h"
#include "net/ServerSockets.h"
#include "net/SocketErrors.h"
#include "net/StreamSocket.h"
#include "platform/FileNumbers.h"
#include "web/HttpText.h"
#include "web/SlotStatus.h"
#include "web/WebServer.h"

#include <QTcpSocket>

#include <fcntl.h>

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

WebConnection::WebConnection(int slot, QTcpSocket *socket, quint64 arrival, WebServer &server)
    : QObject(&server)
    , m_server(server)
    , m_slot(slot)
    , m_socket(socket)
{
    socket->setParent(this);
    prepareServedSocket(*socket);
    m_info.Arrival = arrival;
    m_info.Peer = dotted(socket->peerAddress()).toLatin1();
    connect(socket, &QIODevice::readyRead, this, &WebConnection::WSock_DataArrival);
    connect(socket, &QIODevice::bytesWritten, this, &WebConnection::WSock_SendProgress);
    connect(socket, &QAbstractSocket::disconnected, this, &WebConnection::WSock_Close);
    connect(socket, &QAbstractSocket::errorOccurred, this, &WebConnection::WSock_Error);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &WebConnection::watchdogExpired);
    m_watchdog.start(server.m_requestTimeoutMs);
    // A descriptor the system handed over but Qt could not take is an error
    // of this connection, told once the server has put it in its slot.
    if (socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(this, [this] {
            if (m_socket)
                WSock_Error(m_socket->error());
        }, Qt::QueuedConnection);
}

WebConnection::~WebConnection()
{
    if (!m_socket)
        return;
    disconnect(m_socket, nullptr, this, nullptr);  // its abort as it goes is no news
    if (m_info.FileNum > 0)
        m_server.m_files.close(m_info.FileNum);
}

// The socket is handed over to LingeringClose, whose close outlives this
// object; a stream's descriptor is closed at once, since what it was sent
// has either gone or will never be read. Nothing of either is told any more.
void WebConnection::die()
{
    if (!m_socket && !m_stream)
        return;
    m_watchdog.stop();
    delete std::exchange(m_stream, nullptr);
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->setParent(&m_server);
        LingeringClose::begin(std::exchange(m_socket, nullptr));
    }
    if (m_info.FileNum > 0)
        m_server.m_files.close(m_info.FileNum);
    m_info = SlotInfo();
    emit died(m_slot);
    deleteLater();
}

void WebConnection::WSock_DataArrival()
{
    const QByteArray fresh = m_socket->readAll();
    // One request per connection: whatever follows it is dropped, so that it
    // can neither disturb the answer nor pile up.
    if (m_info.Answered)
        return;
    m_info.Received += fresh;
    const RequestScan scan = scanRequest(m_info.Received);
    if (scan.status == RequestStatus::Incomplete)
        return;
    m_info.Answered = true;
    m_info.Received.clear();
    m_watchdog.start(m_server.m_sendTimeoutMs);
    send(m_server.answerFor(scan, m_info.Peer));
}

// The peer's close, and also its reset: the connection ends, and whatever
// was still to be sent to it is dropped.
void WebConnection::WSock_Close()
{
    die();
}

// One browser going away must not take the server, let alone the clock, with it.
void WebConnection::WSock_Error(QAbstractSocket::SocketError error)
{
    if (error != QAbstractSocket::RemoteHostClosedError)
        logError(SocketErrors::numberOf(error), m_socket->errorString().toUtf8());
    die();
}

// A connection that never completes its request, or a transfer that stops
// moving, would hold its slot forever. A request whose body stays short is
// told so before it goes: a client that miscounted learns why.
void WebConnection::watchdogExpired()
{
    if (m_info.Answered)
        logError(SocketErrors::TimedOut, "Send timed out: no progress for " + m_server.sendTimeoutText() + " s");
    if (m_info.Answered || !scanRequest(m_info.Received).bodyPending)
        return die();
    m_info.Answered = true;
    m_info.Received.clear();
    m_watchdog.start(m_server.m_sendTimeoutMs);
    send(WebAnswer::status(textResponse("408 Request Timeout", m_server.m_versionCaption,
                                        "The body announced by the Content-Length did not arrive within "
                                            + QByteArray::number(m_server.m_requestTimeoutMs / 1000.0) + " s.")));
}

void WebConnection::send(const WebAnswer &answer)
{
    if (!answer.logPath.isNull())
        m_server.logConnect(m_info.Peer, answer.logPath);
    switch (answer.kind) {
    case WebAnswer::Status:
        return sendResponse(answer.head);
    case WebAnswer::Text:
        return sendText(answer);
    case WebAnswer::File:
        return sendFile(answer);
    case WebAnswer::Events:
        return openStream(answer);
    case WebAnswer::Later:
        return sendWhenReady(answer);
    }
}

// The work goes with this connection, and its answer only to it.
void WebConnection::sendWhenReady(const WebAnswer &answer)
{
    answer.later(this, [this] { return m_socket != nullptr; }, [this](const WebAnswer &ready) { send(ready); });
}

void WebConnection::sendText(const WebAnswer &answer)
{
    m_info.SendBuf = answer.body;
    m_info.FileNum = answer.body.isEmpty() ? 0 : -1;
    m_info.TotalBytes = qint32(answer.head.size() + answer.body.size());
    write(answer.head);
}

void WebConnection::sendFile(const WebAnswer &answer)
{
    FileNumbers &files = m_server.m_files;
    const QByteArray &caption = m_server.m_versionCaption;
    const int number = files.lowestFree();
    // The file is there, the server is only busy: the browser may try again.
    if (number == 0)
        return refuseFile(TooManyFiles.number, TooManyFiles.description, serviceUnavailableResponse(caption));
    if (!files.openForReading(number, answer.localPath))
        return refuseFile(FileAccess.number, FileAccess.description, notFoundResponse(caption));
    const qint64 length = files.file(number)->size();
    const QByteArray header = okHeader(contentTypeLine(answer.requestPath), length, caption);
    if (length > std::numeric_limits<qint32>::max() - header.size()) {
        files.close(number);  // beyond the 32-bit byte counts
        return refuseFile(Overflow.number, Overflow.description, notFoundResponse(caption));
    }
    showStatus(Transfering + shown(answer.requestPath));
    m_info.FilePath = answer.requestPath;
    m_info.FileNum = qint16(number);
    m_info.FileLength = length;
    m_info.TotalBytes = qint32(length + header.size());
    write(header);
}

// The reason a file cannot be served goes to the log, not to the client.
void WebConnection::refuseFile(int number, const char *description, const QByteArray &response)
{
    logError(number, description);
    sendResponse(response);
}

void WebConnection::sendResponse(const QByteArray &response)
{
    m_info.TotalBytes = qint32(response.size());
    write(response);
}

// A stream leaves its slot for the server's table of streams: no request
// deadline, no status line of its own, and only the send timeout while
// something waits to go out. Its Qt socket, with the buffers it keeps, goes:
// the stream lives on a copy of the descriptor (the connection stays open
// while one copy does), and an event's bytes are shared by every stream.
void WebConnection::openStream(const WebAnswer &answer)
{
    m_watchdog.stop();
    const int descriptor = ::fcntl(int(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0)
        return die();  // out of descriptors: the page asks again later
    m_info.Events = true;
    m_info.UnsentFellAt = m_server.m_clock.elapsed();
    m_server.streamOpening(this);
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();  // we are in its signal: it goes once that has returned
    std::exchange(m_socket, nullptr)->deleteLater();
    m_stream = new StreamSocket(descriptor, this);
    connect(m_stream, &StreamSocket::ended, this, &WebConnection::die, Qt::QueuedConnection);
    sendToStream(answer.head + answer.body);
}

bool WebConnection::sendEvent(const QByteArray &event)
{
    return m_stream && sendToStream(event);
}

// Every event written adds to what waits, so only a fall of what waits below
// what was written shows that the reader is still reading; the stall check
// looks, not each event, which would cost every stream a system call more.
bool WebConnection::sendToStream(const QByteArray &data)
{
    m_info.TotalBytes += qint32(data.size());
    m_info.Unsent += data.size();
    return m_stream->write(data);
}

void WebConnection::noteUnsent()
{
    const qint64 unsent = m_stream->unsent();
    if (unsent == 0 || unsent < m_info.Unsent)
        m_info.UnsentFellAt = m_server.m_clock.elapsed();
    m_info.Unsent = unsent;
}

bool WebConnection::stalledFor(int ms)
{
    noteUnsent();
    return m_server.m_clock.elapsed() - m_info.UnsentFellAt >= ms;
}

void WebConnection::write(const QByteArray &data)
{
    if (!data.isEmpty())
        m_socket->write(data);
}

void WebConnection::WSock_SendProgress(qint64 bytesSent)
{
    if (!m_info.Events)
        m_watchdog.start(m_server.m_sendTimeoutMs);
    m_info.SentBytes += qint32(bytesSent);
    if (m_info.FileNum > 0)
        showProgress();
    if (m_socket->bytesToWrite() == 0)
        WSock_SendComplete();
}

void WebConnection::showProgress()
{
    if (m_info.FileLength == 0) {
        // An empty file has no percentage; its header goes out all the same.
        logError(DivisionByZero.number, DivisionByZero.description);
        return;
    }
    const double percent = double(m_info.SentBytes) / double(m_info.FileLength) * 100.0;
    showStatus(Transfering + shown(m_info.FilePath) + QStringLiteral(" - ") + QString::number(m_info.SentBytes)
               + QStringLiteral(" of ") + QString::number(m_info.FileLength) + QStringLiteral(" bytes sent (")
               + percentText(percent, m_server.m_locale) + QStringLiteral("% Done)."));
}

void WebConnection::WSock_SendComplete()
{
    if (m_info.Events)
        return;  // a stream's pace is its reader's; see WebServer::closeStalledStreams()
    if (m_info.SentBytes >= m_info.TotalBytes)
        return die();
    sendNextChunk();
}

// One chunk at a time, so that a large answer never waits in this process
// as a whole and the socket's completion paces the file's reads.
void WebConnection::sendNextChunk()
{
    if (m_info.FileNum == -1)
        sendTextChunk();
    else if (m_info.FileNum > 0)
        sendFileChunk();
}

void WebConnection::sendTextChunk()
{
    const QByteArray chunk = m_info.SendBuf.left(WebServer::ChunkSize);
    m_info.SendBuf.remove(0, WebServer::ChunkSize);
    if (m_info.SendBuf.isEmpty())
        m_info.FileNum = 0;
    write(chunk);
}

void WebConnection::sendFileChunk()
{
    QFile *file = m_server.m_files.file(m_info.FileNum);
    const qint64 size = std::min<qint64>(WebServer::ChunkSize, m_info.FileLength - file->pos());
    const QByteArray chunk = file->read(size);
    if (chunk.size() < size) {
        // Cut short in place while it was sent: the promised length cannot be kept.
        logError(InputPastEnd.number, InputPastEnd.description);
        return die();
    }
    write(chunk);
    if (file->pos() >= m_info.FileLength) {
        m_server.m_files.close(m_info.FileNum);
        m_info.FileNum = 0;
    }
}

void WebConnection::logError(int number, const QByteArray &description) const
{
    m_server.logError(m_slot, number, description);
}

void WebConnection::showStatus(const QString &text) const
{
    m_server.m_status.setSlotText(m_slot, text);
}
