// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockPublication.h"
#include "net/TcpClient.h"
#include "platform/Timer.h"
#include "settings/ExtensionSettings.h"

#include <QObject>

// Keeps one TCP connection to the display device and, while the clock runs,
// writes the value 1000 to it every 100 ms. What the device sends is dropped;
// a connection that is not up is started again at the next tick.
class DisplayPush : public QObject, public ClockPublication
{
    Q_OBJECT
public:
    static constexpr int PeriodMs = 100;
    // 1000 as two bytes, low byte first.
    static inline const QByteArray Message = QByteArrayLiteral("\xE8\x03");

    explicit DisplayPush(QObject *parent = nullptr);

    // Where the next connection goes; an open one stays until it drops.
    void setDevice(const QString &address, quint16 port) { m_winsock4.setPeer(address, port); }
    QString deviceAddress() const { return m_winsock4.host(); }
    quint16 devicePort() const { return m_winsock4.port(); }

    Timer &timer4() { return m_timer4; }

    void StartPush();
    void StopPush();
    void PushTick();
    void startPublishing() override { StartPush(); }
    void haltPublishing(int) override { StopPush(); }

private:
    // Driven by the ticks alone: no backoff and no reports of its own.
    TcpClient m_winsock4{ExtensionSettings::Display::DefaultAddress, ExtensionSettings::Display::DefaultPort};
    Timer m_timer4;
};
