// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SessionJournal.h"

#include "clock/ClockControl.h"
#include "clock/ClockTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kVersion = 1;
// A journal is a few hundred bytes; anything far larger is not one.
constexpr qint64 kMaxBytes = 4096;
const std::array<const char *, 4> kStates = {"idle", "running", "stopped", "held"};

QString dateText(const QDate &date)
{
    return date.toString(Qt::ISODate);
}

bool readSpeed(const QJsonValue &value, qint16 *speed)
{
    const double n = value.toDouble(-1);
    if (!value.isDouble() || n != std::floor(n) || n < 1 || n > 32767)
        return false;
    *speed = qint16(n);
    return true;
}

// Absent is fine (no date); present, it must be one.
bool readDate(const QJsonObject &o, const char *key, QDate *date)
{
    if (!o.contains(QLatin1String(key)))
        return true;
    *date = QDate::fromString(o.value(QLatin1String(key)).toString(), Qt::ISODate);
    return date->isValid();
}

QString resumedText(const JournalEntry &e, bool startNow)
{
    const QByteArray hhmm = ClockTimeMath::timeOfDayText(ClockTimeMath::secondsOfDay(e.clockTime)).left(5);
    return QStringLiteral("Resumed the session that ended without saving: %1 at %2:1%3")
        .arg(QString::fromLatin1(hhmm))
        .arg(e.countedSpeed)
        .arg(startNow ? QStringLiteral(", running") : QString());
}

}  // namespace

namespace Journal {

QByteArray text(const JournalEntry &e)
{
    QJsonObject o{{"journal", kVersion},
                  {"written", e.written.toUTC().toString(Qt::ISODateWithMs)},
                  {"time", e.clockTime},
                  {"speed", e.chosenSpeed},
                  {"countedSpeed", e.countedSpeed},
                  {"state", QLatin1String(kStates[size_t(e.state)])}};
    if (e.date.isValid())
        o.insert("date", dateText(e.date));
    if (e.sessionDate.isValid())
        o.insert("sessionDate", dateText(e.sessionDate));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool parse(const QByteArray &bytes, JournalEntry *e, QString *problem)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *problem = QStringLiteral("it is not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    e->written = QDateTime::fromString(o.value("written").toString(), Qt::ISODateWithMs);
    e->clockTime = o.value("time").toDouble(NAN);
    const QString stateName = o.value("state").toString();
    const auto state = std::find_if(kStates.begin(), kStates.end(), [&](const char *s) { return stateName == QLatin1String(s); });
    const bool ok = o.value("journal").toInt() == kVersion && e->written.isValid() && std::isfinite(e->clockTime)
                    && readSpeed(o.value("speed"), &e->chosenSpeed) && readSpeed(o.value("countedSpeed"), &e->countedSpeed)
                    && state != kStates.end() && readDate(o, "date", &e->date)
                    && readDate(o, "sessionDate", &e->sessionDate);
    if (!ok)
        *problem = QStringLiteral("a value is missing or out of range");
    else
        e->state = ClockState(state - kStates.begin());
    return ok;
}

}  // namespace Journal

SessionStart planSessionStart(const JournalRead &journal, const QDateTime &recordSaved,
                              const ExtensionSettings::Session &session)
{
    SessionStart start;
    const JournalEntry &e = journal.entry;
    const bool found = journal.status == JournalRead::Status::Found;
    start.date = session.date;
    if (found && session.date.isValid() && e.sessionDate == session.date && e.date.isValid())
        start.date = e.date;
    if (!found || (recordSaved.isValid() && e.written <= recordSaved))
        return start;
    start.resumed = true;
    start.clockTime = e.clockTime;
    start.chosenSpeed = e.chosenSpeed;
    start.countedSpeed = e.countedSpeed;
    start.startNow = session.resumeRunning && e.state == ClockState::Running;
    start.said = resumedText(e, start.startNow);
    return start;
}

SessionJournal::SessionJournal(const QString &recordPath, const ClockControl &clock, QObject *parent)
    : QObject(parent)
    , m_path(QFileInfo(recordPath).absoluteDir().filePath(QStringLiteral("QuorandelSession.json")))
    , m_clock(clock)
{
    m_rewrite.setInterval(RewriteMs);
    connect(&m_rewrite, &QTimer::timeout, this, [this] { write(m_clock.snapshot()); });
}

JournalRead SessionJournal::read()
{
    JournalRead r;
    QFile file(m_path);
    if (!QFileInfo(m_path).exists())
        return r;
    r.status = JournalRead::Status::Damaged;
    if (!QFileInfo(m_path).isFile() || !file.open(QIODevice::ReadOnly))
        r.problem = QStringLiteral("it cannot be read");
    else if (file.size() > kMaxBytes)
        r.problem = QStringLiteral("it is far too large");
    else if (Journal::parse(file.readAll(), &r.entry, &r.problem))
        r.status = JournalRead::Status::Found;
    file.close();
    if (r.status == JournalRead::Status::Found)
        return r;
    // An earlier damaged journal stays as it is: a second one goes beside it.
    QString aside = m_path + QStringLiteral(".damaged");
    if (QFileInfo::exists(aside))
        aside += QDateTime::currentDateTimeUtc().toString(QStringLiteral("-yyyyMMdd-hhmmss"));
    const bool kept = QFile::rename(m_path, aside);
    r.problem = QStringLiteral("The session journal %1 is damaged (%2) and was not used; %3")
                    .arg(m_path, r.problem,
                         kept ? QStringLiteral("it is kept as %1").arg(aside)
                              : QStringLiteral("it could not be moved aside, so no journal is kept this time"));
    m_keptInPlace = !kept;  // and so never written over
    return r;
}

void SessionJournal::begin(const QDate &sessionDate)
{
    m_sessionDate = sessionDate;
    m_writing = !m_keptInPlace;
    clockChanged(m_clock.snapshot());
}

void SessionJournal::finish()
{
    if (m_writing)
        write(m_clock.snapshot());
    m_writing = false;
    m_rewrite.stop();
}

void SessionJournal::clockChanged(const ClockSnapshot &clock)
{
    if (!m_writing)
        return;
    write(clock);
    if (clock.running())
        m_rewrite.start();
    else
        m_rewrite.stop();
}

void SessionJournal::write(const ClockSnapshot &clock)
{
    if (!m_writing)
        return;
    const JournalEntry e{QDateTime::currentDateTimeUtc(), clock.clockTime, clock.chosenSpeed, clock.countedSpeed,
                         clock.state, clock.modelDate, m_sessionDate};
    QSaveFile file(m_path);
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(Journal::text(e)) >= 0 && file.commit();
    if (!ok && !m_failing)
        emit problem(QStringLiteral("cannot write the session journal %1: %2; a crash now would lose the session's time")
                         .arg(m_path, file.errorString()));
    m_failing = !ok;
}
