// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/FastClockDatagram.h"

#include "clock/ClockTime.h"

#include <QList>

FastClockState fastClockStateOf(const ClockSnapshot &clock, const QString &ipAddress, quint16 ipPort)
{
    FastClockState state;
    state.ipAddress = ipAddress;
    state.ipPort = ipPort;
    state.active = clock.running();
    state.speed = clock.countedSpeed;
    state.secondsOfDay = clock.secondsOfDay;
    return state;
}

QByteArray fastClockDatagram(const FastClockState &state)
{
    using namespace FastClockDatagram;
    const QByteArray lines[] = {
        "fastclock",
        "version=2",
        "name=" + cleanField(state.name, NameMaxLength).toUtf8(),
        "ip-address=" + cleanField(state.ipAddress, AddressMaxLength).toUtf8(),
        "ip-port=" + QByteArray::number(state.ipPort),
        "text=" + cleanField(state.text, TextMaxLength).toUtf8(),
        "clocktype=fastclock",
        QByteArray("active=") + (state.active ? "yes" : "no"),
        "speed=" + QByteArray::number(state.speed),
        "clock=" + ClockTimeMath::timeOfDayText(state.secondsOfDay),
        "weekday=none",
        "interval=" + QByteArray::number(state.intervalSeconds),
    };
    QByteArray datagram;
    for (const QByteArray &line : lines)
        datagram += line + "\r\n";
    return datagram;
}
