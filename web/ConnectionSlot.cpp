#include "web/ConnectionSlot.h"

#include "net/Winsock.h"
#include "platform/FileNumbers.h"

ConnectionSlot::ConnectionSlot(int index, Winsock *socket, FileNumbers &files, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_socket(socket)
    , m_files(files)
{
    m_pump.setEnabled(false);
    m_pump.setInterval(1);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { emit watchdogExpired(m_index); });
}

bool ConnectionSlot::isFree() const
{
    return m_socket->state() == Winsock::Closed;
}

void ConnectionSlot::begin(qintptr requestId, quint64 connection, int requestMs)
{
    m_info = SlotInfo();
    m_info.Connection = connection;
    m_socket->accept(requestId);
    armWatchdog(requestMs);
}

// NOTE: close() is immediate, so there is no waiting for the socket here.
// A wait would yield, a connection request could take this slot meanwhile,
// and the rest of the reset would then clear the new connection.
void ConnectionSlot::reset(quint64 connection)
{
    m_pump.setEnabled(false);
    m_watchdog.stop();
    m_socket->close();
    if (m_info.FileNum > 0)
        m_files.close(m_info.FileNum);
    m_info = SlotInfo();
    m_info.Connection = connection;
}
