// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ConnectionSlot.h"

#include "net/Winsock.h"
#include "platform/FileNumbers.h"

ConnectionSlot::ConnectionSlot(int index, Winsock *socket, FileNumbers &files, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_socket(socket)
    , m_files(files)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { emit watchdogExpired(m_index); });
}

bool ConnectionSlot::isFree() const
{
    return m_socket->state() == Winsock::Closed;
}

void ConnectionSlot::begin(Winsock &listener, qintptr requestId, quint64 arrival, int requestMs)
{
    m_info = SlotInfo();
    m_info.Arrival = arrival;
    listener.acceptInto(requestId, *m_socket);
    m_info.Peer = m_socket->remoteHostIP().toLatin1();
    armWatchdog(requestMs);
}

void ConnectionSlot::reset()
{
    m_watchdog.stop();
    m_socket->close();
    if (m_info.FileNum > 0)
        m_files.close(m_info.FileNum);
    m_info = SlotInfo();
}
