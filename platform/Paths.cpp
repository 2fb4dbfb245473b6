// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString machineRegistryFile()
{
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString &folder : folders) {
        if (folder == userFolder)
            continue;
        const QString candidate = folder + QStringLiteral("/Quorandel/Quorandel.reg");
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return {};
}

AppPaths AppPaths::standard()
{
    AppPaths paths;
    paths.registryFile = machineRegistryFile();
    paths.exportFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                         + QStringLiteral("/Quorandel");
    paths.executableFolder = QCoreApplication::applicationDirPath();
    paths.extensionFile = userExtensionFile();
    return paths;
}

QString userExtensionFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Quorandel/quorandel.conf");
}

QString userStateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // The base directory rules say a relative path is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Quorandel");
}

bool folderIsWritable(const QString &folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

// A state folder that cannot be made is not reported here: opening the log
// in it fails, and the log reports that itself.
QString requestLogFolder(const QString &executableFolder,
                         const std::function<bool(const QString &)> &isWritable)
{
    if (isWritable(executableFolder))
        return executableFolder;
    const QString folder = userStateFolder();
    QDir().mkpath(folder);
    return folder;
}
