// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/DisplayPush.h"

DisplayPush::DisplayPush(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer4, &Timer::ticked, this, &DisplayPush::PushTick);
    // Whatever the device (or whoever holds its address) sends is of no use
    // here, and must not pile up.
    m_winsock4.setDiscardReceived(true);
}

void DisplayPush::StartPush()
{
    m_timer4.setInterval(PeriodMs);
}

// The connection stays up while stopped, so the next Start resumes at once.
void DisplayPush::StopPush()
{
    m_timer4.setInterval(0);
}

// An attempt gets one period: whatever is not connected by the next tick is
// dropped and started afresh.
void DisplayPush::PushTick()
{
    if (!m_winsock4.isConnected()) {
        m_winsock4.connectNow();
        return;
    }
    m_winsock4.send(Message);
}
