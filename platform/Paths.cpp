#include "platform/Paths.h"

#include <QCoreApplication>
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
    return paths;
}
