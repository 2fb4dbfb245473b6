// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/Z21Clock.h"

namespace Z21Clock {

namespace {

constexpr quint8 ClockControl = 0xCC;
constexpr quint8 ClockData = 0xCD;

quint8 xorOf(const QByteArray &bytes)
{
    quint8 x = 0;
    for (const char c : bytes)
        x ^= quint8(c);
    return x;
}

QByteArray record(quint8 header, const QByteArray &data)
{
    QByteArray head(4, '\0');
    head[0] = char(4 + data.size());  // every record here is shorter than 256 bytes
    head[2] = char(header);
    return head + data;
}

QByteArray control(const QByteArray &data)
{
    return record(ClockControl, data + char(xorOf(data)));
}

std::optional<Report> clockReport(const QByteArray &data)
{
    if (data.size() < 8 || quint8(data[0]) != 0x66 || quint8(data[1]) != 0x25 || xorOf(data.left(7)) != quint8(data[7]))
        return std::nullopt;
    const int hour = quint8(data[2]) & 0x1F, minute = quint8(data[3]), second = quint8(data[4]) & 0x3F;
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return Report{quint8(data[2]) >> 5, hour * 3600 + minute * 60 + second, quint8(data[5]) & 0x3F,
                  (quint8(data[4]) & 0x80) != 0};
}

}  // namespace

QByteArray broadcastFlags()
{
    return record(0x50, QByteArray::fromHex("10000000"));
}

QByteArray logoff()
{
    return record(0x30, {});
}

QByteArray query()
{
    return control(QByteArray::fromHex("212A"));
}

QByteArray set(int weekday, int secondsOfDay, int rate)
{
    const int hour = secondsOfDay / 3600, minute = secondsOfDay / 60 % 60;
    return control(QByteArray::fromHex("242B") + char(weekday << 5 | hour) + char(minute) + char(rate & 0x3F));
}

QByteArray start()
{
    return control(QByteArray::fromHex("212C"));
}

QByteArray stop()
{
    return control(QByteArray::fromHex("212D"));
}

Heard read(const QByteArray &datagram)
{
    Heard heard;
    for (qsizetype at = 0; at + 4 <= datagram.size();) {
        const int length = quint8(datagram[at]) | quint8(datagram[at + 1]) << 8;
        if (length < 4 || at + length > datagram.size())
            break;
        ++heard.records;
        if (quint8(datagram[at + 2]) == ClockData && datagram[at + 3] == 0)
            if (const auto report = clockReport(datagram.mid(at + 4, length - 4)))
                heard.clock = report;
        at += length;
    }
    return heard;
}

}  // namespace Z21Clock
