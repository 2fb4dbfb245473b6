// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/RegistryHive.h"

#include <QVariant>

namespace RegMod {

inline const QString LocalMachine = QStringLiteral("HKEY_LOCAL_MACHINE");
inline const QString QuorandelKey = QStringLiteral("SOFTWARE\\WOW6432Node\\Quorandel");

// Reads one registry value: text for REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ
// (the latter with its NUL separators), a 32-bit integer for REG_DWORD, bytes
// for REG_BINARY; otherwise the default.
QVariant ReadRegValue(const RegistryHive &hive, const QString &rootKey, const QString &keyPath,
                      const QString &valueName, const QVariant &defaultValue = QVariant());

// A logging switch is on exactly when its value is the text "True".
bool readSwitch(const RegistryHive &hive, const QString &valueName);

}  // namespace RegMod
