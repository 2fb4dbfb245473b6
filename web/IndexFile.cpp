#include "web/IndexFile.h"

#include "platform/FileSystem.h"

QByteArray FindIndexFile(const QByteArray &folder, const QByteArray &indexHTML)
{
    if (indexHTML.isEmpty())
        return {};
    const QList<QByteArray> items = indexHTML.split(';');
    for (const QByteArray &item : items) {
        const QByteArray name = FileSystem::findFirstFile(folder, item);
        if (!name.isEmpty())
            return name;
    }
    return {};
}
