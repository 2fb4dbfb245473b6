// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// Where the program keeps its files. Tests build their own set pointing into
// scratch folders; the program uses standard().
struct AppPaths
{
    // The settings database, relative to the working directory as the
    // program has always kept it.
    QString settingsFile = QStringLiteral("QuorandelDB.mdb");
    // The machine-wide logging switches (read only); empty when none exists.
    QString registryFile;
    // Where the clock picture is published; also the default web root.
    QString exportFolder;
    // The folder of the executable, where the request log lives when it can.
    QString executableFolder;
    // The optional extension settings (quorandel.conf); empty: none, every default.
    QString extensionFile;

    static AppPaths standard();
};

// "Quorandel/Quorandel.reg" in the first machine-wide configuration folder
// ($XDG_CONFIG_DIRS, by default /etc/xdg) that has it; the user's own
// configuration folder is not machine-wide and is not searched.
QString machineRegistryFile();

// $XDG_CONFIG_HOME/Quorandel/quorandel.conf: the user's own, hand-written.
QString userExtensionFile();

// $XDG_STATE_HOME/Quorandel, by default ~/.local/state/Quorandel. Qt has no
// standard location for it.
QString userStateFolder();

bool folderIsWritable(const QString &folder);

// The request log stays beside the program when that folder can be written,
// as it always has; an installed program's folder (/usr/bin) cannot, so the log
// then goes to the user's state folder, which is made for it.
QString requestLogFolder(const QString &executableFolder,
                         const std::function<bool(const QString &)> &isWritable = folderIsWritable);
