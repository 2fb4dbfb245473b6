// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

// The messages of JMRI's JSON protocol that concern its fast clock (its
// Timebase), as plain functions on the text of one WebSocket message.
namespace JmriTime {

// The Timebase's states as JMRI numbers them.
constexpr int Running = 2;
constexpr int Stopped = 4;

// {"type":"time","method":"post","data":{"rate":R,"state":S,"time":T}}: T is
// the time of day on `date` as ISO 8601 with this machine's UTC offset on
// that date ("2026-12-08T06:30:00.000+01:00"), so that a JMRI in the same
// time zone shows the same hh:mm.
QByteArray post(const QDate &date, int secondsOfDay, int rate, bool running);
QByteArray ping();  // {"type":"ping"}

// One message from JMRI, as far as it matters here.
struct Message
{
    enum class Kind {
        NotJson,  // not a JSON value at all: the connection is not usable
        Hello,
        Time,     // its clock, all three fields readable
        Error,    // what JMRI refused, in `text`
        Other     // anything else, lists and pongs among them: no answer
    };
    Kind kind = Kind::NotJson;
    int secondsOfDay = 0;  // in this machine's time zone
    double rate = 0;
    bool running = false;
    QString text;
};
Message read(const QByteArray &message);

}  // namespace JmriTime
