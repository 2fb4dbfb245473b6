// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/FastClockDatagram.h"

#include <QList>

namespace {

const int kSecondsPerDay = 24 * 60 * 60;

QByteArray twoDigits(int n)
{
    return QByteArray::number(n).rightJustified(2, '0');
}

// A time outside one day (it cannot come from the clock) is taken modulo the
// day rather than sent as a value the slaves would reject.
QByteArray clockText(int secondsOfDay)
{
    const int s = ((secondsOfDay % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
    return twoDigits(s / 3600) + ':' + twoDigits(s / 60 % 60) + ':' + twoDigits(s % 60);
}

}  // namespace

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
        "clock=" + clockText(state.secondsOfDay),
        "weekday=none",
        "interval=" + QByteArray::number(state.intervalSeconds),
    };
    QByteArray datagram;
    for (const QByteArray &line : lines)
        datagram += line + "\r\n";
    return datagram;
}
