// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RegistryHive.h"

#include <QFile>
#include <QStringDecoder>

namespace {

const QString kRegedit4 = QStringLiteral("REGEDIT4");
const QString kVersion5 = QStringLiteral("Windows Registry Editor Version 5.00");

QString decodeFile(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// The single-byte interface hands out Latin-1; what does not fit becomes "?".
QByteArray narrow(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text)
        out.append(c.unicode() < 256 ? char(c.unicode()) : '?');
    return out;
}

// Reads a quoted string starting at pos (on the opening quote); pos ends past
// the closing quote. False when it is not closed.
bool readQuoted(const QString &line, int &pos, QString &out)
{
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line.at(pos);
        if (c == u'"') {
            ++pos;
            return true;
        }
        if (c == u'\\' && pos + 1 < line.size())
            ++pos;
        out.append(line.at(pos));
    }
    return false;
}

bool parseHexBytes(const QString &list, QByteArray &out)
{
    out.clear();
    const QString compact = QString(list).remove(u' ').remove(u'\t');
    if (compact.isEmpty())
        return true;
    for (const QString &part : compact.split(u',')) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() > 2)
            return false;
        out.append(char(byte));
    }
    return true;
}

// Wide strings of version-5 files are UTF-16LE; the single-byte interface
// narrows them.
QByteArray narrowWide(const QByteArray &utf16)
{
    return narrow(QStringDecoder(QStringDecoder::Utf16LE).decode(utf16));
}

// A line ending in a backslash goes on in the next one. The parts are appended
// in place: rebuilding the joined line for each part made a long value take
// time in the square of its lines.
QStringList joinContinuations(const QString &text)
{
    QStringList lines;
    QString joined;
    for (QString line : text.split(u'\n')) {
        line.remove(u'\r');
        joined += QStringView(line).trimmed();
        if (joined.endsWith(u'\\')) {
            joined.chop(1);
            continue;
        }
        lines.append(joined);
        joined.clear();
    }
    if (!joined.isEmpty())
        lines.append(joined);
    return lines;
}

}  // namespace

RegistryHive RegistryHive::fromFile(const QString &path)
{
    RegistryHive hive;
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return hive;
    if (!file.open(QIODevice::ReadOnly)) {
        hive.m_error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return hive;
    }
    if (!hive.parse(decodeFile(file.readAll())))
        hive.m_error = QStringLiteral("%1: %2").arg(path, hive.m_error);
    return hive;
}

RegistryHive RegistryHive::fromText(const QString &text)
{
    RegistryHive hive;
    hive.parse(text);
    return hive;
}

bool RegistryHive::parse(const QString &text)
{
    const QStringList lines = joinContinuations(text);
    int first = 0;
    while (first < lines.size() && lines.at(first).isEmpty())
        ++first;
    const QString header = first < lines.size() ? lines.at(first) : QString();
    if (header != kRegedit4 && header != kVersion5) {
        m_error = QStringLiteral("not a registry file (the first line must be \"%1\" or \"%2\")")
                      .arg(kRegedit4, kVersion5);
        return false;
    }
    for (int i = first + 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            m_inDeletedKey = line.startsWith(QStringLiteral("[-"));
            m_currentKey = line.mid(1, line.size() - 2).toLower();
            if (m_inDeletedKey)
                m_currentKey.remove(0, 1);
            else
                m_keys[m_currentKey];
            continue;
        }
        if (!parseValueLine(line, header == kVersion5)) {
            m_keys.clear();
            m_error = QStringLiteral("line %1 is not a registry value: %2").arg(i + 1).arg(line);
            return false;
        }
    }
    return true;
}

bool RegistryHive::parseValueLine(const QString &line, bool version5)
{
    int pos = 0;
    QString name;
    if (line.startsWith(u'@'))
        pos = 1;
    else if (!line.startsWith(u'"') || !readQuoted(line, pos, name))
        return false;
    if (m_currentKey.isEmpty() || pos >= line.size() || line.at(pos) != u'=')
        return false;
    const QString data = line.mid(pos + 1).trimmed();
    if (data == QStringLiteral("-"))
        return true;  // a deletion in an export: nothing to hold
    Value value;
    if (!parseData(data, version5, value))
        return false;
    if (!m_inDeletedKey)
        m_keys[m_currentKey].insert(name.toLower(), value);
    return true;
}

bool RegistryHive::parseData(const QString &data, bool version5, Value &value)
{
    if (data.startsWith(u'"')) {
        int p = 0;
        QString text;
        value.type = RegSz;
        if (!readQuoted(data, p, text) || p != data.size())
            return false;
        value.data = narrow(text) + '\0';
        return true;
    }
    if (data.startsWith(QStringLiteral("dword:"), Qt::CaseInsensitive)) {
        bool ok = false;
        const QString digits = data.mid(6);
        const quint32 n = digits.toUInt(&ok, 16);
        value.type = RegDword;
        for (int b = 0; b < 4; ++b)
            value.data.append(char((n >> (8 * b)) & 0xFF));
        return ok && digits.size() <= 8;
    }
    const int colon = data.indexOf(u':');
    const QString kind = data.left(colon).toLower();
    bool ok = true;
    if (colon < 0 || !kind.startsWith(QStringLiteral("hex")))
        return false;
    value.type = kind == QStringLiteral("hex") ? quint32(RegBinary) : 0u;
    if (kind.startsWith(QStringLiteral("hex(")) && kind.endsWith(u')'))
        value.type = kind.mid(4, kind.size() - 5).toUInt(&ok, 16);
    if (!ok || value.type == 0 || !parseHexBytes(data.mid(colon + 1), value.data))
        return false;
    if (version5 && (value.type == RegExpandSz || value.type == RegMultiSz))
        value.data = narrowWide(value.data);
    return true;
}

bool RegistryHive::hasKey(const QString &keyPath) const
{
    return m_keys.contains(keyPath.toLower());
}

long RegistryHive::queryValue(const QString &keyPath, const QString &name, quint32 &type,
                              QByteArray &buffer, qint64 &size) const
{
    const auto key = m_keys.constFind(keyPath.toLower());
    if (key == m_keys.constEnd())
        return FileNotFound;
    const auto value = key->constFind(name.toLower());
    if (value == key->constEnd())
        return FileNotFound;
    type = value->type;
    size = value->data.size();
    if (size > buffer.size())
        return MoreData;
    std::copy(value->data.begin(), value->data.end(), buffer.begin());
    return Success;
}
