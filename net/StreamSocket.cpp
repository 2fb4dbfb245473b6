// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/StreamSocket.h"

#include <QSocketNotifier>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

StreamSocket::StreamSocket(int descriptor, QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_readable(std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read))
    , m_writable(std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write))
{
    m_writable->setEnabled(false);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &StreamSocket::drop);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &StreamSocket::flush);
}

// The notifiers go before the descriptor they watch.
StreamSocket::~StreamSocket()
{
    m_readable.reset();
    m_writable.reset();
    ::close(m_descriptor);
}

bool StreamSocket::write(const QByteArray &data)
{
    if (m_ended)
        return false;
    if (data.isEmpty())
        return true;
    m_queue.push_back(data);  // a reference, not a copy
    m_waiting += data.size();
    if (m_queue.size() == 1)
        flush();
    return !m_ended;
}

qint64 StreamSocket::unsent() const
{
    int queued = 0;
    if (::ioctl(m_descriptor, SIOCOUTQ, &queued) != 0)
        queued = 0;
    return m_waiting + queued;
}

// As much as the system takes now; the rest when it says it can take more.
void StreamSocket::flush()
{
    while (!m_queue.empty() && sendFront()) {
    }
    m_writable->setEnabled(!m_ended && !m_queue.empty());
}

// True when the front went out whole and the next may follow.
bool StreamSocket::sendFront()
{
    const QByteArray &front = m_queue.front();
    const qsizetype left = front.size() - m_sentOfFront;
    const ssize_t sent = ::send(m_descriptor, front.constData() + m_sentOfFront, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (errno == EINTR)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            end();
        return false;
    }
    m_waiting -= sent;
    m_sentOfFront += sent;
    if (sent < left)
        return false;
    m_queue.pop_front();
    m_sentOfFront = 0;
    return true;
}

// A stream's reader has nothing to say; whatever it sends all the same is
// read and forgotten, so that it cannot pile up anywhere.
void StreamSocket::drop()
{
    char buffer[4096];
    for (int reads = 0; reads < 16; ++reads) {  // a peer that never stops sending gets its turn, not the loop
        const ssize_t got = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            end();
        return;
    }
}

void StreamSocket::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_queue.clear();
    m_waiting = 0;
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    emit ended();
}
