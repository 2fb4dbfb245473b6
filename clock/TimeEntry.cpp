// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/TimeEntry.h"

#include <algorithm>
#include <climits>

namespace {
// A whole number from 0 upward, blanks around it allowed; an empty entry is 0.
// Numbers too long for an int are kept as INT_MAX: they are out of range all
// the same, and the user is told so rather than that they are not numbers.
bool wholeNumber(const QString &text, int *value)
{
    const QString t = text.trimmed();
    if (!std::all_of(t.begin(), t.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    bool fits = false;
    const int v = t.toInt(&fits);
    *value = t.isEmpty() ? 0 : fits ? v : INT_MAX;
    return true;
}

QString notWholeNumber(const QString &what, const QString &text, int limit)
{
    return QStringLiteral("%1: \"%2\" is not a whole number. Enter a whole number from 0 to %3.")
        .arg(what, text.trimmed())
        .arg(limit - 1);
}
}  // namespace

TimeEntry readTimeEntry(const QString &hourText, const QString &minuteText)
{
    TimeEntry e;
    if (!wholeNumber(hourText, &e.hour))
        return {TimeEntry::NotWholeNumber, notWholeNumber(QStringLiteral("Hours"), hourText, 24)};
    if (e.hour >= 24)
        return {TimeEntry::OutOfRange, QStringLiteral("Enter Less Than 24")};
    if (!wholeNumber(minuteText, &e.minute))
        return {TimeEntry::NotWholeNumber, notWholeNumber(QStringLiteral("Minutes"), minuteText, 60), true};
    if (e.minute >= 60)
        return {TimeEntry::OutOfRange, QStringLiteral("Enter Less Than 60"), true};
    return e;
}
