// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ControlCommand.h"

#include "clock/OfferedSpeeds.h"
#include "clock/TimeEntry.h"

#include <QRegularExpression>

namespace {
ControlCommand refused(const QByteArray &reason)
{
    ControlCommand c;
    c.reason = reason;
    return c;
}

// Only the plain decimal spelling, so that "04" or "4.0" cannot sneak past.
QByteArray readSpeed(const QByteArray &text, ControlCommand &c)
{
    for (qint16 n : OfferedSpeeds::All) {
        if (text == QByteArray::number(n)) {
            c.speed = n;
            return {};
        }
    }
    return "Speed \"" + quotedForReason(text) + "\" is not offered. Choose " + OfferedSpeeds::listed("or") + '.';
}

QByteArray readTime(const QByteArray &text, ControlCommand &c)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = shape.match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return "Time \"" + quotedForReason(text) + "\" is not a time. Enter H:MM or HH:MM.";
    const TimeEntry e = readTimeEntry(m.captured(1), m.captured(2));
    if (e.outcome != TimeEntry::Accepted)
        return e.message.toLatin1();
    c.hour = e.hour;
    c.minute = e.minute;
    return {};
}

// The years the layout network can tell, as in quorandel.conf.
QByteArray readDate(const QByteArray &text, ControlCommand &c)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    const QDate date = QDate::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (!shape.match(QString::fromLatin1(text)).hasMatch() || !date.isValid() || date.year() < 1
        || date.year() > 4095)
        return "Date \"" + quotedForReason(text) + "\" is not a date. Enter YYYY-MM-DD (years 0001 to 4095).";
    c.date = date;
    return {};
}

QByteArray unknownField(const FormBody &form)
{
    static const QByteArrayList known{"action", "speed", "time", "date"};
    for (const FormField &f : form.fields)
        if (!known.contains(f.name))
            return "Unknown field \"" + quotedForReason(f.name) + "\".";
    return {};
}

ControlCommand readSet(const FormBody &form)
{
    if (!form.has("speed") && !form.has("time") && !form.has("date"))
        return refused("Set needs a speed, a time or both.");
    ControlCommand c;
    const QByteArray speedError = form.has("speed") ? readSpeed(form.value("speed"), c) : QByteArray();
    if (!speedError.isEmpty())
        return refused(speedError);
    const QByteArray timeError = form.has("time") ? readTime(form.value("time"), c) : QByteArray();
    if (!timeError.isEmpty())
        return refused(timeError);
    const QByteArray dateError = form.has("date") ? readDate(form.value("date"), c) : QByteArray();
    if (!dateError.isEmpty())
        return refused(dateError);
    c.action = ControlCommand::Action::Set;
    return c;
}
}  // namespace

ControlCommand readControlCommand(const FormBody &form)
{
    if (!form.ok())
        return refused(form.error);
    if (const QByteArray unknown = unknownField(form); !unknown.isEmpty())
        return refused(unknown);
    const QByteArray action = form.value("action");
    if (!form.has("action"))
        return refused("The action is missing: start, stop or set.");
    if (action == "set")
        return readSet(form);
    if (action != "start" && action != "stop")
        return refused("Unknown action \"" + quotedForReason(action) + "\": start, stop or set.");
    if (form.fields.size() > 1)
        return refused("The action " + action + " takes no speed or time.");
    ControlCommand c;
    c.action = action == "start" ? ControlCommand::Action::Start : ControlCommand::Action::Stop;
    return c;
}
