// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// One of the session's fixed moments: a model time of day, what is said when
// the counted time reaches it, and whether the clock then stops.
struct Alarm
{
    int minuteOfDay = 0;  // 0 to 1439
    QString text;         // one line, possibly empty
    bool stop = false;
};

namespace Alarms {

// Longer texts are cut: they go on a phone's banner and into one log line.
constexpr int TextMaxLength = 200;

// "HH:MM text" or "HH:MM stop text" (H:MM too); the text's control
// characters become spaces. False, with the reason, for anything else.
bool read(const QString &line, Alarm *alarm, QString *problem);

// "06:45"
QByteArray timeText(const Alarm &alarm);

// The positions in `alarms` of those the counted time reaches on its way from
// `from` (already counted, so left out) to `to` (seconds of the day), in the
// order given; across midnight when `to` lies below `from`, nothing when the
// two are equal.
std::vector<int> crossed(int from, int to, const std::vector<Alarm> &alarms);

}  // namespace Alarms
