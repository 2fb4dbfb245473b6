// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/RegMod.h"


namespace RegMod {

namespace {

constexpr int kFirstBufferSize = 2048;

// Asks with a 2048-byte buffer first, and once more with a buffer of exactly
// the reported size when that was too small.
long query(const RegistryHive &hive, const QString &key, const QString &name, quint32 &type,
           QByteArray &data)
{
    data = QByteArray(kFirstBufferSize, '\0');
    qint64 size = 0;
    const long status = hive.queryValue(key, name, type, data, size);
    if (status == RegistryHive::MoreData) {
        data = QByteArray(int(size), '\0');
        hive.queryValue(key, name, type, data, size);
    } else if (status != RegistryHive::Success) {
        return status;
    }
    data.truncate(int(size));
    return RegistryHive::Success;
}

// The size-minus-terminator rule, kept from going negative on empty data.
QString textOf(const QByteArray &data, int terminatorBytes)
{
    return QString::fromLatin1(data.left(std::max(0, int(data.size()) - terminatorBytes)));
}

qint32 dwordOf(const QByteArray &data)
{
    quint32 n = 0;
    for (int b = 0; b < 4 && b < data.size(); ++b)
        n |= quint32(quint8(data.at(b))) << (8 * b);
    return qint32(n);
}

}  // namespace

QVariant ReadRegValue(const RegistryHive &hive, const QString &rootKey, const QString &keyPath,
                      const QString &valueName, const QVariant &defaultValue)
{
    const QString key = rootKey + u'\\' + keyPath;
    quint32 type = 0;
    QByteArray data;
    if (hive.hasKey(key) && query(hive, key, valueName, type, data) == RegistryHive::Success) {
        switch (type) {
        case RegistryHive::RegSz:
        case RegistryHive::RegExpandSz:
            return textOf(data, 1);
        case RegistryHive::RegBinary:
            return data;
        case RegistryHive::RegDword:
            return dwordOf(data);
        case RegistryHive::RegMultiSz:
            return textOf(data, 2);
        default:
            break;
        }
    }
    return defaultValue;
}

bool readSwitch(const RegistryHive &hive, const QString &valueName)
{
    const QVariant v = ReadRegValue(hive, LocalMachine, QuorandelKey, valueName);
    return v.typeId() == QMetaType::QString && v.toString() == QStringLiteral("True");
}

}  // namespace RegMod
