// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock/ClockFollower.h"
#include "clock/ClockSnapshot.h"
#include "settings/ExtensionSettings.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

class ClockControl;

// The clock as the journal last saw it.
struct JournalEntry
{
    QDateTime written;  // when the entry was made
    double clockTime = 0.0;
    qint16 chosenSpeed = 1;
    qint16 countedSpeed = 1;
    ClockState state = ClockState::Idle;
    QDate date;         // the model date; null when the session keeps none
    QDate sessionDate;  // [session] date= when that date began, so that a new one in the file starts afresh
};

// The journal's file as start-up finds it.
struct JournalRead
{
    enum class Status { Missing, Damaged, Found };
    Status status = Status::Missing;
    JournalEntry entry;
    QString problem;  // what is wrong with a damaged one
};

namespace Journal {
// One small JSON object.
QByteArray text(const JournalEntry &entry);
// Anything this program did not write whole is refused, with the reason.
bool parse(const QByteArray &bytes, JournalEntry *entry, QString *problem);
}  // namespace Journal

// What the start-up takes from the journal and the record.
struct SessionStart
{
    bool resumed = false;  // the session ended without saving: time and speeds are the journal's
    double clockTime = 0.0;
    qint16 chosenSpeed = 1;
    qint16 countedSpeed = 1;
    bool startNow = false;  // resume=running, and the clock ran when the session ended
    QDate date;             // the model date to go on with; null when the session keeps none
    QString said;           // for the window's status line and stderr, when there is something to say
};

// The journal is trusted only when it was written after the record was last
// saved (recordSaved null: no record yet): then the program ended without its
// orderly save. The model date goes on from the journal as long as
// [session] date= is still the one it began from.
SessionStart planSessionStart(const JournalRead &journal, const QDateTime &recordSaved,
                              const ExtensionSettings::Session &session);

// The journal of the clock, beside the settings record: replaced whole
// (written aside, flushed, renamed) at every change and every RewriteMs while
// the clock counts, so that a crash or a power cut loses at most a few model
// seconds. It reads its file once, at start-up, and writes nothing until
// begin(); after finish() it writes nothing more, so that the record's
// orderly save is newer than the journal's last entry.
class SessionJournal : public QObject, public ClockFollower
{
    Q_OBJECT
public:
    static constexpr int RewriteMs = 5000;

    SessionJournal(const QString &recordPath, const ClockControl &clock, QObject *parent = nullptr);

    QString path() const { return m_path; }
    // A damaged journal is moved aside (".damaged"), never overwritten.
    JournalRead read();
    void begin(const QDate &sessionDate);
    void finish();

    void clockChanged(const ClockSnapshot &clock) override;

signals:
    // A journal that cannot be written, told once until a write succeeds again.
    void problem(const QString &text);

private:
    void write(const ClockSnapshot &clock);

    QString m_path;
    const ClockControl &m_clock;
    QTimer m_rewrite;
    QDate m_sessionDate;
    bool m_writing = false;
    bool m_keptInPlace = false;  // a damaged journal that could not be moved aside
    bool m_failing = false;      // the last write failed, and that was told
};
