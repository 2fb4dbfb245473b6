// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/SettingsFields.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

struct sqlite3;

// The settings record: the first row of the table "Quorandel" in an SQLite
// file, the sixteen fields of SettingsFields by position (an existing file's
// column names do not matter). A missing file is created with one fresh
// record, and so is a file of no bytes or a database with nothing in it; any
// other file that exists is never rewritten except by Commit.
class SettingsStore
{
public:
    explicit SettingsStore(const QString &path);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // Opens the file and positions on its first record.
    bool Open();
    // The stored value: qlonglong, double, QString, QByteArray, or an invalid
    // QVariant for a field without a value.
    QVariant ReadField(SettingsField field) const;
    void BeginEdit();
    // Booleans are stored as 0/1, the model time as a REAL.
    void WriteField(SettingsField field, const QVariant &value);
    // Stores the edited record in one transaction; all or nothing.
    bool Commit();

private:
    bool openExisting();
    bool countSchemaObjects(int &objects);
    bool createFresh(const QString &file);
    bool buildFreshFile(const QString &file);
    bool writeFreshRecord();
    bool readFirstRecord();
    bool readFailure();
    bool exec(const char *sql);
    bool fail(const QString &what);

    QString m_path;
    sqlite3 *m_db = nullptr;
    qint64 m_rowid = 0;
    QStringList m_columns;
    QVector<QVariant> m_record;
    QVector<QVariant> m_edit;
    QString m_error;
};
