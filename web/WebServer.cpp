// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebServer.h"

#include "net/DottedAddress.h"
#include "net/ServerSockets.h"
#include "net/SocketErrors.h"
#include "platform/FileNumbers.h"
#include "platform/Log.h"
#include "settings/Settings.h"
#include "web/HttpText.h"
#include "web/RequestLog.h"
#include "web/SlotStatus.h"
#include "web/WebRootAnswers.h"

#include <QDateTime>
#include <QFile>
#include <QTcpSocket>

qint64 WebServer::descriptorsFor(int streams)
{
    return qint64(streams) + MaxSlots + FileNumbers::Last + DescriptorMargin;
}

int WebServer::streamsThatFit(qint64 openFiles, int wanted)
{
    return int(std::clamp<qint64>(openFiles - descriptorsFor(0), MinStreamCapacity, std::max(wanted, MinStreamCapacity)));
}

WebServer::WebServer(const Settings &settings, RequestLog &log, SlotStatus &status, FileNumbers &files,
                     const QString &versionCaption, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_log(log)
    , m_status(status)
    , m_files(files)
    , m_versionCaption(versionCaption.toLatin1())
{
    m_slots.resize(1);  // slot numbers start at 1; 0 is the listener's status line
    connect(&m_listener, &QTcpServer::newConnection, this, &WebServer::WSock_ConnectionRequest);
    resumeAcceptingAfterErrors(m_listener);
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
    m_countLater.setSingleShot(true);
    m_countLater.setInterval(200);
    connect(&m_countLater, &QTimer::timeout, this, [this] {
        if (std::exchange(m_countTold, streamCount()) != streamCount())
            emit streamsCounted(streamCount());
    });
}

// The connections give their files back before the file numbers they hold
// may go, and tell nothing more.
WebServer::~WebServer()
{
    for (WebConnection *connection : m_slots)
        delete connection;
    for (WebConnection *connection : m_streams)
        delete connection;
}

bool WebServer::startListening()
{
    const std::optional<quint16> port = m_settings.portNumber();
    if (!port) {
        reportListenerFailure(QStringLiteral("\"%1\" is not a port number").arg(m_settings.LPort));
        return false;
    }
    m_listener.close();
    m_port = *port;
    if (!m_listener.listen(QHostAddress::AnyIPv4, *port)) {
        reportListenerFailure(QStringLiteral("port %1, Error %2 - %3")
                                  .arg(QString::number(*port),
                                       QString::number(SocketErrors::numberOf(m_listener.serverError())),
                                       m_listener.errorString()));
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
    return m_listener.isListening();
}

// Listening on every address, the listener has none of its own to tell.
QString WebServer::localIP() const
{
    return machineIPv4();
}

quint16 WebServer::localPort() const
{
    return m_listener.isListening() ? m_listener.serverPort() : m_port;
}

const SlotInfo &WebServer::Slots(int n) const
{
    static const SlotInfo none;
    return n >= 1 && n < int(m_slots.size()) && m_slots[size_t(n)] ? m_slots[size_t(n)]->info() : none;
}

void WebServer::WSock_ConnectionRequest()
{
    while (QTcpSocket *socket = m_listener.nextPendingConnection())
        take(socket);
}

void WebServer::take(QTcpSocket *socket)
{
    const int n = slotForNewConnection(slotStates(), m_slotLimit);
    if (n == 0) {
        delete socket;  // closed at once: refused
        return;
    }
    if (n == int(m_slots.size())) {
        m_slots.push_back(nullptr);
        m_status.loadSlot(n);
    } else if (m_slots[size_t(n)]) {
        m_slots[size_t(n)]->die();  // gives way to the newcomer
    }
    auto *connection = new WebConnection(n, socket, ++m_arrivals, *this);
    connect(connection, &WebConnection::died, this, [this, connection](int slot) { connectionEnded(connection, slot); });
    m_slots[size_t(n)] = connection;
}

std::vector<SlotState> WebServer::slotStates() const
{
    std::vector<SlotState> states(m_slots.size() - 1);
    for (size_t n = 1; n < m_slots.size(); ++n) {
        if (!m_slots[n])
            continue;
        const SlotInfo &info = m_slots[n]->info();
        states[n - 1] = {info.Answered ? SlotState::Answering : SlotState::Waiting, info.Arrival};
    }
    return states;
}

// A connection still in its slot frees it; a stream has left its slot long
// ago and leaves the streams' table.
void WebServer::connectionEnded(WebConnection *connection, int slot)
{
    if (m_slots[size_t(slot)] == connection) {
        m_slots[size_t(slot)] = nullptr;
        m_status.setSlotText(slot, QStringLiteral("Closed"));
        return;
    }
    m_streams.erase(std::find(m_streams.begin(), m_streams.end(), connection));
    countStreams();
}

WebAnswer WebServer::answerFor(const RequestScan &scan, const QByteArray &peer) const
{
    const auto refusal = [this](const char *status, const char *text) {
        return WebAnswer::status(textResponse(status, m_versionCaption, text));
    };
    switch (scan.status) {
    case RequestStatus::Complete:
        return resolve(scan.request, peer);
    case RequestStatus::BodyTooLarge:
        return refusal("413 Payload Too Large", "The body is larger than 1 KiB.");
    case RequestStatus::LengthRequired:
        return refusal("411 Length Required", "A body needs its Content-Length.");
    case RequestStatus::BadLength:
        return refusal("400 Bad Request", "The Content-Length is not a number.");
    case RequestStatus::TwoLengths:
        return refusal("400 Bad Request", "The Content-Length headers differ: the body's length is unclear.");
    case RequestStatus::TransferEncoding:
        return refusal("400 Bad Request", "Transfer-Encoding is not accepted: send the body with one Content-Length.");
    case RequestStatus::NulByte:
        return refusal("400 Bad Request", "The request line or a header holds a NUL byte.");
    case RequestStatus::HeadersTooLarge:
        return refusal("431 Request Header Fields Too Large", "The header block is larger than 8 KiB.");
    default:
        return WebAnswer::status(notImplementedResponse(m_versionCaption));
    }
}

// The web root and the index names are read per request, so that a change in
// the settings applies from the next request on.
WebAnswer WebServer::resolve(const HttpRequest &request, const QByteArray &peer) const
{
    if (request.builtIn) {
        const auto route = m_routes.constFind(request.rawPath);
        if (route == m_routes.constEnd())
            return WebAnswer::status(textResponse("404 Not Found", m_versionCaption, "No such page."));
        return (*route)(request, peer);
    }
    const WebRoot root{QFile::encodeName(m_settings.WebRoot), QFile::encodeName(m_settings.IndexHTML),
                       m_versionCaption, m_locale};
    return answerFromWebRoot(request, root);
}

// Makes room for the new stream within the caps and moves it from its slot,
// which the next connection may take at once, to the streams' table; the
// streams are kept alive and watched from now on.
void WebServer::streamOpening(WebConnection *connection)
{
    std::vector<StreamState> states;
    states.reserve(m_streams.size());
    for (const WebConnection *stream : m_streams)
        states.push_back({stream->info().Arrival, stream->info().Peer});
    QList<WebConnection *> closing;
    for (const int i : streamsToClose(states, connection->info().Peer, m_streamsPerAddress, m_streamCapacity))
        closing.append(m_streams[size_t(i)]);
    for (WebConnection *stream : std::as_const(closing))
        stream->die();
    const int slot = connection->slot();
    m_slots[size_t(slot)] = nullptr;
    m_status.setSlotText(slot, QStringLiteral("Moved to the live pages"));
    m_streams.push_back(connection);
    countStreams();
    if (!m_keepAlive.isActive())
        m_keepAlive.start();
    if (!m_stallCheck.isActive())
        m_stallCheck.start();
}

void WebServer::countStreams()
{
    if (!m_countLater.isActive())
        m_countLater.start();
}

// One pass over a copy of the table: a stream found gone on the way leaves
// the table, not this loop.
int WebServer::sendEvent(const QByteArray &event)
{
    int streams = 0;
    for (WebConnection *connection : std::vector<WebConnection *>(m_streams)) {
        if (connection->sendEvent(event))
            ++streams;
    }
    return streams;
}

void WebServer::closeStalledStreams()
{
    if (m_streams.empty())
        return m_stallCheck.stop();
    for (WebConnection *connection : std::vector<WebConnection *>(m_streams)) {
        if (!connection->stalledFor(m_sendTimeoutMs))
            continue;
        logError(connection->slot(), SocketErrors::TimedOut,
                 "Events stream stalled: the reader has taken nothing for " + sendTimeoutText() + " s");
        connection->die();
    }
}

void WebServer::reportListenerFailure(const QString &reason)
{
    m_listener.close();
    const QString text = QStringLiteral("Web server not running: ") + reason;
    m_status.setSlotText(0, text);
    qCWarning(lcQuorandel).noquote() << text;
}

void WebServer::logError(int n, int number, const QByteArray &description) const
{
    if (m_settings.LogE)
        m_log.WriteLog(RequestLog::errorLine(QDateTime::currentDateTime(), n, number, description, m_locale));
}

void WebServer::logConnect(const QByteArray &peer, const QByteArray &localPath) const
{
    if (m_settings.LogC)
        m_log.WriteLog(RequestLog::connectLine(QDateTime::currentDateTime(), peer, localPath, m_locale));
}

QByteArray WebServer::sendTimeoutText() const
{
    return QByteArray::number(m_sendTimeoutMs / 1000.0);
}
