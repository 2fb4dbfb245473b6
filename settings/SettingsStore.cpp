// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsStore.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sqlite3.h>

namespace {

const char *const kTable = "Quorandel";
// Another program may hold the store for a moment; saving or starting waits
// this long for it before reporting it locked.
constexpr int kBusyTimeoutMs = 5000;

// The files SQLite keeps next to a database while it changes it. Left beside
// a fresh store, an old journal would be rolled back onto it.
void removeSidecars(const QString &file)
{
    for (const char *suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
}

QString quoted(const QString &name)
{
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// A fresh store's column type: SQLite has no boolean nor 16-bit integer.
const char *columnType(SettingsFieldType type)
{
    switch (type) {
    case SettingsFieldType::Text: return " TEXT";
    case SettingsFieldType::DateTime: return " REAL";
    case SettingsFieldType::Int16:
    case SettingsFieldType::Boolean: break;
    }
    return " INTEGER";
}

QString freshLiteral(const SettingsFieldRow &row)
{
    const QString value = QString::fromLatin1(row.freshValue);
    if (row.type != SettingsFieldType::Text)
        return value;
    return u'\'' + QString(value).replace(u'\'', QStringLiteral("''")) + u'\'';
}

QVariant columnValue(sqlite3_stmt *stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                                 sqlite3_column_bytes(stmt, column));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(stmt, column)),
                          sqlite3_column_bytes(stmt, column));
    default:
        return QVariant();
    }
}

void bindValue(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(stmt, index, value.toDouble());
        break;
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::LongLong:
        sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
}

}  // namespace

SettingsStore::SettingsStore(const QString &path)
    : m_path(path)
{
}

SettingsStore::~SettingsStore()
{
    sqlite3_close(m_db);
}

bool SettingsStore::fail(const QString &what)
{
    m_error = QStringLiteral("The settings file \"%1\" %2").arg(QFileInfo(m_path).absoluteFilePath(), what);
    return false;
}

bool SettingsStore::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    fail(QStringLiteral("cannot be written: %1").arg(QString::fromUtf8(message)));
    sqlite3_free(message);
    return false;
}

bool SettingsStore::Open()
{
    const QFileInfo info(m_path);
    // Opening a FIFO would block for ever; a folder or a device is no store either.
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("is not a regular file"));
    // SQLite follows a link to the store, so a fresh file goes where it points.
    const QString file = info.isSymLink() ? info.symLinkTarget() : m_path;
    int objects = 0;
    if (info.exists() && !(openExisting() && countSchemaObjects(objects)))
        return false;
    if (info.exists() && objects > 0)
        return readFirstRecord();
    return createFresh(file) && openExisting() && readFirstRecord();
}

bool SettingsStore::openExisting()
{
    const QByteArray file = QFile::encodeName(m_path);
    if (sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        // A store we may not write can still be read; saving will say so.
        sqlite3_close(m_db);
        m_db = nullptr;
        if (sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            return fail(QStringLiteral("cannot be opened: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    return true;
}

// A file of no bytes, or a database with nothing in its schema, is what a first
// start cut short or a tool that only made the file leaves: no settings to lose.
bool SettingsStore::countSchemaObjects(int &objects)
{
    sqlite3_stmt *stmt = nullptr;
    int step = SQLITE_ERROR;
    if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr) == SQLITE_OK)
        step = sqlite3_step(stmt);
    if (step == SQLITE_ROW)
        objects = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return step == SQLITE_ROW || readFailure();
}

// The store is made whole under another name and then renamed into place, so
// a start killed meanwhile leaves either no store or a whole one.
bool SettingsStore::createFresh(const QString &file)
{
    const QString building = file + QStringLiteral(".creating");
    sqlite3_close(m_db);
    m_db = nullptr;
    QFile::remove(building);  // left by a start killed while making the store
    removeSidecars(building);
    if (!buildFreshFile(building)) {
        QFile::remove(building);
        return false;
    }
    removeSidecars(file);
    const QByteArray from = QFile::encodeName(building), to = QFile::encodeName(file);
    if (std::rename(from.constData(), to.constData()) == 0)
        return true;
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(building);
    return fail(QStringLiteral("cannot be created: %1").arg(reason));
}

// Committing writes the file through and removes its journal.
bool SettingsStore::buildFreshFile(const QString &file)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    bool ok = sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db, flags, nullptr) == SQLITE_OK;
    if (!ok)
        fail(QStringLiteral("cannot be created: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    ok = ok && writeFreshRecord();
    sqlite3_close(m_db);
    m_db = nullptr;
    return ok;
}

// A record whose every field takes its default on loading.
bool SettingsStore::writeFreshRecord()
{
    QStringList columns, values;
    for (const SettingsFieldRow &row : SettingsFields) {
        columns << quoted(QString::fromLatin1(row.name)) + columnType(row.type);
        values << freshLiteral(row);
    }
    const QString create = QStringLiteral("CREATE TABLE %1 (%2);").arg(quoted(kTable), columns.join(", "));
    const QString insert = QStringLiteral("INSERT INTO %1 VALUES (%2);").arg(quoted(kTable), values.join(", "));
    return exec("BEGIN") && exec(create.toUtf8().constData()) && exec(insert.toUtf8().constData())
           && exec("COMMIT");
}

bool SettingsStore::readFirstRecord()
{
    const QByteArray sql = QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid LIMIT 1").arg(quoted(kTable)).toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        return readFailure();
    const int step = sqlite3_step(stmt);
    const int columns = sqlite3_column_count(stmt) - 1;
    if (step == SQLITE_ROW && columns == SettingsFieldCount) {
        m_rowid = sqlite3_column_int64(stmt, 0);
        m_record.clear();
        m_columns.clear();
        for (int i = 1; i <= SettingsFieldCount; ++i) {
            m_record << columnValue(stmt, i);
            m_columns << QString::fromUtf8(sqlite3_column_name(stmt, i));
        }
    }
    sqlite3_finalize(stmt);
    if (step == SQLITE_DONE)
        return fail(QStringLiteral("holds no settings record in its table \"%1\"").arg(QLatin1String(kTable)));
    if (step != SQLITE_ROW)
        return fail(QStringLiteral("cannot be read: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    if (columns != SettingsFieldCount)
        return fail(QStringLiteral("has %1 fields in its table \"%2\"; %3 are needed")
                        .arg(columns)
                        .arg(QLatin1String(kTable))
                        .arg(SettingsFieldCount));
    return true;
}

bool SettingsStore::readFailure()
{
    if (sqlite3_errcode(m_db) == SQLITE_NOTADB)
        return fail(QStringLiteral("is not a settings database"));
    return fail(QStringLiteral("cannot be read: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
}

QVariant SettingsStore::ReadField(SettingsField field) const
{
    return m_record.value(position(field));
}

void SettingsStore::BeginEdit()
{
    m_edit = m_record;
}

void SettingsStore::WriteField(SettingsField field, const QVariant &value)
{
    if (position(field) < m_edit.size())
        m_edit[position(field)] = value;
}

bool SettingsStore::Commit()
{
    QStringList assignments;
    for (int i = 0; i < SettingsFieldCount; ++i)
        assignments << QStringLiteral("%1 = ?%2").arg(quoted(m_columns.value(i))).arg(i + 1);
    const QByteArray sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?%3")
                               .arg(quoted(kTable), assignments.join(", "))
                               .arg(SettingsFieldCount + 1)
                               .toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (!m_db || m_edit.size() != SettingsFieldCount || !exec("BEGIN IMMEDIATE"))
        return m_error.isEmpty() ? fail(QStringLiteral("is not open")) : false;
    bool ok = sqlite3_prepare_v2(m_db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < SettingsFieldCount; ++i)
        bindValue(stmt, i + 1, m_edit.at(i));
    ok = ok && sqlite3_bind_int64(stmt, SettingsFieldCount + 1, m_rowid) == SQLITE_OK
         && sqlite3_step(stmt) == SQLITE_DONE;
    if (!ok)
        fail(QStringLiteral("cannot be written: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    sqlite3_finalize(stmt);
    if (!ok || !exec("COMMIT")) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    m_record = m_edit;
    return true;
}
