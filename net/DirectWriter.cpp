// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/DirectWriter.h"

#include <QSocketNotifier>

#include <sys/socket.h>

#include <cerrno>

DirectWriter::DirectWriter(qintptr descriptor, QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_writable(std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write))
{
    m_writable->setEnabled(false);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &DirectWriter::flush);
}

DirectWriter::~DirectWriter() = default;

bool DirectWriter::write(const QByteArray &data)
{
    if (m_failed)
        return false;
    if (data.isEmpty())
        return true;
    m_queue.push_back(data);  // a reference, not a copy
    m_waiting += data.size();
    if (m_queue.size() == 1)
        flush();
    return !m_failed;
}

// As much as the system takes now; the rest when it says it can take more.
void DirectWriter::flush()
{
    while (!m_queue.empty() && sendFront()) {
    }
    m_writable->setEnabled(!m_failed && !m_queue.empty());
}

// True when the front went out whole and the next may follow.
bool DirectWriter::sendFront()
{
    const QByteArray &front = m_queue.front();
    const qsizetype left = front.size() - m_sentOfFront;
    const ssize_t sent = ::send(int(m_descriptor), front.constData() + m_sentOfFront, size_t(left),
                                MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (errno == EINTR)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            m_failed = true;
            m_queue.clear();
            m_waiting = 0;
            emit failed();
        }
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
