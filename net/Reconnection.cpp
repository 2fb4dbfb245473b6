// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Reconnection.h"

#include <algorithm>
#include <utility>

Reconnection::Reconnection(std::function<void()> tryNow, QObject *parent)
    : QObject(parent)
    , m_tryNow(std::move(tryNow))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { m_tryNow(); });
}

void Reconnection::start()
{
    if (m_running)
        return;
    m_running = true;
    m_retryMs = FirstRetryMs;
    m_tryNow();
}

void Reconnection::stop()
{
    m_running = false;
    m_retry.stop();
}

void Reconnection::up()
{
    m_upSince.start();
    if (m_running && (m_lostReported || !m_everReached))
        emit reached(m_everReached);
    m_lostReported = false;
    m_everReached = true;
}

void Reconnection::ended(const QString &reason, bool wasUp)
{
    if (wasUp && m_upSince.elapsed() >= SteadyMs)
        m_retryMs = FirstRetryMs;
    if (!m_running)
        return;
    const int delay = std::exchange(m_retryMs, std::min(m_retryMs * 2, LastRetryMs));
    m_retry.start(delay);
    if (!std::exchange(m_lostReported, true))
        emit lost(reason, wasUp, delay);
}
