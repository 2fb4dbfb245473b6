// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// A read-only registry read from a file in the Windows registry export format
// ("REGEDIT4" or "Windows Registry Editor Version 5.00"). Values are held as
// the single-byte (ANSI) interface of the registry reports them: REG_SZ data is
// the text plus its terminating NUL, wide strings of version-5 files are
// narrowed to one byte per character. Key and value names match without
// regard to letter case.
class RegistryHive
{
public:
    enum Type : quint32 {
        RegSz = 1,
        RegExpandSz = 2,
        RegBinary = 3,
        RegDword = 4,
        RegMultiSz = 7,
    };
    // The answers of a value query, as the registry interface gives them.
    enum Status : long {
        Success = 0,
        FileNotFound = 2,
        MoreData = 234,
    };

    struct Value
    {
        quint32 type = 0;
        QByteArray data;
    };

    // A missing file gives an empty hive. A file that cannot be parsed gives an
    // empty hive too, and error() says why.
    static RegistryHive fromFile(const QString &path);
    static RegistryHive fromText(const QString &text);

    QString error() const { return m_error; }
    // Key paths include the root, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\...".
    bool hasKey(const QString &keyPath) const;
    // Copies at most buffer.size() bytes of the value into buffer; size
    // receives the full length of the data. MoreData when it did not fit.
    long queryValue(const QString &keyPath, const QString &name, quint32 &type, QByteArray &buffer,
                    qint64 &size) const;

private:
    bool parse(const QString &text);
    bool parseValueLine(const QString &line, bool version5);
    static bool parseData(const QString &data, bool version5, Value &value);

    QHash<QString, QHash<QString, Value>> m_keys;
    QString m_currentKey;
    bool m_inDeletedKey = false;
    QString m_error;
};
