// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/TimeBroadcast.h"

#include "clock/ClockEngine.h"
#include "clock/ClockTime.h"
#include "settings/Settings.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {
const QByteArray kStopMark = QByteArrayLiteral("0");
}

TimeBroadcast::TimeBroadcast(const ClockEngine &clock, const Settings &settings, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_settings(settings)
{
    connect(&m_timer3, &Timer::ticked, this, &TimeBroadcast::BroadcastTick);
}

void TimeBroadcast::SetUpBroadcast()
{
    SendStopBurst(1000);
}

// Back to back, without yielding: nothing else may run in the middle of it.
void TimeBroadcast::SendStopBurst(int count)
{
    for (m_delay = 1; m_delay <= count; ++m_delay)
        m_winsock2.send(kStopMark);
}

void TimeBroadcast::StartBroadcast()
{
    m_timer3.setInterval(TickPeriodMs);
}

void TimeBroadcast::HaltBroadcast()
{
    m_timer3.setInterval(0);
}

void TimeBroadcast::BroadcastTick()
{
    m_winsock1.send(ClockTimeMath::hhmm(m_clock.clockTime()));
    refreshRatio();
    m_winsock2.send(QByteArray::number(m_ratio));
}

void TimeBroadcast::refreshRatio()
{
    const QString *trim = m_settings.trimFor(m_clock.clockSpeed());
    if (!trim)
        return;  // no trim for this speed: the last ratio stands
    qint32 ratio = 0;
    if (ratioFromTrim(*trim, &ratio))
        m_ratio = ratio;
}

bool TimeBroadcast::ratioFromTrim(const QString &trim, qint32 *ratio)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(trim.trimmed().replace(u',', u'.'), &ok);
    if (!ok || !std::isfinite(value))
        return false;
    const double rounded = std::nearbyint(value);
    if (rounded < std::numeric_limits<qint32>::min() || rounded > std::numeric_limits<qint32>::max())
        return false;
    *ratio = qint32(rounded);
    return true;
}
