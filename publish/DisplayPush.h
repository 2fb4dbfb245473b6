// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockPublication.h"
#include "net/Winsock.h"
#include "platform/Timer.h"

#include <QObject>

// Keeps one TCP connection to the display device and, while the clock runs,
// writes the value 1000 to it every 100 ms. What the device sends is dropped;
// a connection that is not up is started again at the next tick.
class DisplayPush : public QObject, public ClockPublication
{
    Q_OBJECT
public:
    // The display device's usual address on the layout's LAN (./test.sh gives
    // the same address to its private network); quorandel.conf can name another.
    static inline const QString DeviceAddress = QStringLiteral("192.168.1.99");
    static constexpr quint16 DevicePort = 7799;
    static constexpr int PeriodMs = 100;
    static constexpr qint16 Message = 1000;

    explicit DisplayPush(QObject *parent = nullptr);

    // Where the next connection goes; an open one stays until it drops.
    void setDevice(const QString &address, quint16 port)
    {
        m_address = address;
        m_port = port;
    }
    QString deviceAddress() const { return m_address; }
    quint16 devicePort() const { return m_port; }

    Winsock &winsock4() { return m_winsock4; }
    Timer &timer4() { return m_timer4; }

    void StartPush();
    void StopPush();
    void PushTick();
    void startPublishing() override { StartPush(); }
    void haltPublishing(int) override { StopPush(); }

private:
    Winsock m_winsock4;
    Timer m_timer4;
    QString m_address = DeviceAddress;
    quint16 m_port = DevicePort;
};
