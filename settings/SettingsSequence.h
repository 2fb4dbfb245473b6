// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class ClockEngine;
class RegistryHive;
class SettingsStore;
struct Settings;

// What loading the settings sets off beyond the variables themselves.
struct LoadHooks
{
    // Where the web root lies when the record names none.
    QString defaultWebRoot;
    // Opens the request log; false when it could not be opened.
    std::function<bool()> openRequestLog;
    // Hands the trims to the configuration dialog, which creates it hidden.
    std::function<void()> putTrimsIntoConfig;
};

// Reads the record into the settings and the clock, applies the defaults and
// the registry switches. False, with a message naming the file and the field,
// when the record cannot be used; nothing is written then.
bool LoadSettings(SettingsStore &store, const RegistryHive &registry, Settings &settings,
                  ClockEngine &clock, const LoadHooks &hooks, QString *error);

// Writes all sixteen fields as they stand and commits them at once.
bool SaveSettings(SettingsStore &store, const Settings &settings, const ClockEngine &clock,
                  QString *error);
