#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

struct sqlite3;

// The settings record: the first row of the table "Quorandel" in an SQLite
// file, sixteen fields addressed by position. A missing file is created with
// one fresh record, and so is a file of no bytes or a database with nothing in
// it; any other file that exists is never rewritten except by Commit.
class SettingsStore
{
public:
    static constexpr int FieldCount = 16;
    // Column names for a fresh file; an existing file's names do not matter.
    static const QStringList FieldNames;

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
    QVariant ReadField(int position) const;
    void BeginEdit();
    // Booleans are stored as 0/1, the model time as a REAL.
    void WriteField(int position, const QVariant &value);
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
