// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/Alarms.h"

#include "clock/ClockTime.h"

#include <QRegularExpression>

namespace Alarms {

namespace {
// Whether `second` lies in (from, to], going forward round the clock face.
bool passed(int from, int to, int second)
{
    if (from <= to)
        return second > from && second <= to;
    return second > from || second <= to;
}

QString oneLine(const QString &text)
{
    QString clean = text;
    for (QChar &c : clean)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    return clean.trimmed().left(TextMaxLength);
}
}  // namespace

bool read(const QString &line, Alarm *alarm, QString *problem)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,2}):([0-9]{2})(?:\\s+(stop)(?=\\s|$))?(.*)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = shape.match(line.trimmed());
    const int hour = m.captured(1).toInt();
    const int minute = m.captured(2).toInt();
    if (!m.hasMatch() || hour > 23 || minute > 59) {
        *problem = QStringLiteral("is not \"HH:MM text\" or \"HH:MM stop text\" with a time from 00:00 to 23:59");
        return false;
    }
    const QString rest = m.captured(4);
    if (!rest.isEmpty() && !rest.front().isSpace()) {
        *problem = QStringLiteral("has no space between the time and the text");
        return false;
    }
    alarm->minuteOfDay = hour * 60 + minute;
    alarm->stop = !m.captured(3).isEmpty();
    alarm->text = oneLine(rest);
    return true;
}

QByteArray timeText(const Alarm &alarm)
{
    return ClockTimeMath::timeOfDayText(alarm.minuteOfDay * 60).left(5);
}

std::vector<int> crossed(int from, int to, const std::vector<Alarm> &alarms)
{
    std::vector<int> reached;
    if (from == to)
        return reached;
    for (size_t i = 0; i < alarms.size(); ++i) {
        if (passed(from, to, alarms[i].minuteOfDay * 60))
            reached.push_back(int(i));
    }
    return reached;
}

}  // namespace Alarms
