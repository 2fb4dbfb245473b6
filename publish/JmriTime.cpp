// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/JmriTime.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace JmriTime {

namespace {

// JMRI reads the offset and shows the time in its own zone.
QString isoTime(const QDate &date, int secondsOfDay)
{
    const QTime time = QTime::fromMSecsSinceStartOfDay(secondsOfDay * 1000);
    QDateTime local(date, time);
    // A time skipped by a change to summer time has no offset of its own.
    const int offset = local.isValid() ? local.offsetFromUtc() : QDateTime(date, QTime(12, 0)).offsetFromUtc();
    return QDateTime(date, time, QTimeZone(offset)).toString(Qt::ISODateWithMs);
}

}  // namespace

QByteArray post(const QDate &date, int secondsOfDay, int rate, bool running)
{
    const QJsonObject data{{"time", isoTime(date, secondsOfDay)}, {"rate", rate}, {"state", running ? Running : Stopped}};
    return R"({"type":"time","method":"post","data":)" + QJsonDocument(data).toJson(QJsonDocument::Compact) + '}';
}

QByteArray ping()
{
    return R"({"type":"ping"})";
}

Message read(const QByteArray &message)
{
    Message m;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (error.error != QJsonParseError::NoError)
        return m;
    m.kind = Message::Kind::Other;
    const QJsonObject o = document.object();
    const QString type = o.value("type").toString();
    const QJsonObject data = o.value("data").toObject();
    if (type == u"hello") {
        m.kind = Message::Kind::Hello;
    } else if (type == u"error") {
        m.kind = Message::Kind::Error;
        m.text = data.value("message").toString().left(200);
    } else if (type == u"time") {
        QDateTime time = QDateTime::fromString(data.value("time").toString(), Qt::ISODateWithMs);
        const int state = data.value("state").toInt();
        if (!time.isValid() || !data.value("rate").isDouble() || (state != Running && state != Stopped))
            return m;
        m.kind = Message::Kind::Time;
        m.secondsOfDay = time.toLocalTime().time().msecsSinceStartOfDay() / 1000;
        m.rate = data.value("rate").toDouble();
        m.running = state == Running;
    }
    return m;
}

}  // namespace JmriTime
