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
    if (m_winsock4.state() != Winsock::Connected) {
        m_winsock4.close();
        m_winsock4.setProtocol(Winsock::TCP);
        m_winsock4.setRemoteHost(m_address);
        m_winsock4.setRemotePort(m_port);
        m_winsock4.connectToRemote();
        return;
    }
    m_winsock4.sendInt16(Message);
}
