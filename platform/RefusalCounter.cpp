// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RefusalCounter.h"

#include <QLocale>

#include <algorithm>

RefusalCounter::RefusalCounter(const QByteArray &channel, const QByteArray &what, QObject *parent)
    : QObject(parent)
    , m_channel(channel)
    , m_what(what)
{
    m_clock.start();
    connect(&m_check, &QTimer::timeout, this, &RefusalCounter::windowsEnded);
}

bool RefusalCounter::first(const QByteArray &peer)
{
    const auto known = m_peers.find(peer);
    if (known != m_peers.end()) {
        ++known->more;
        return false;
    }
    m_peers.insert(peer, {m_clock.elapsed(), 0});
    if (!m_check.isActive())
        m_check.start(std::max(1, m_windowMs / 60));
    return true;
}

// The peers are few (LCC has 4,096 aliases); looking at each of them once a
// second costs nothing.
void RefusalCounter::windowsEnded()
{
    const qint64 now = m_clock.elapsed();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        if (now - it->since < m_windowMs) {
            ++it;
        } else if (it->more == 0) {
            it = m_peers.erase(it);
        } else {
            emit counted(m_channel, QLocale(QLocale::English).toString(it->more).toLatin1() + " more " + m_what
                                        + " refused from " + it.key() + " in the last minute");
            *it = {now, 0};
            ++it;
        }
    }
    if (m_peers.isEmpty())
        m_check.stop();
}
