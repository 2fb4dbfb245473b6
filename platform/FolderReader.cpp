// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FolderReader.h"

#include <sys/stat.h>

FolderReader::FolderReader(const QByteArray &folder)
    : m_folder(folder.endsWith('/') ? folder : folder + '/')
    , m_dir(folder.isEmpty() ? nullptr : ::opendir(folder.constData()))
{
}

FolderReader::~FolderReader()
{
    finish();
}

void FolderReader::finish()
{
    if (m_dir)
        ::closedir(m_dir);
    m_dir = nullptr;
}

// stat() follows symbolic links, so a link the operator placed counts as
// whatever it points to, and a dangling one as nothing.
QList<FileSystem::Entry> FolderReader::next(int count)
{
    QList<FileSystem::Entry> found;
    for (int i = 0; i < count && m_dir; ++i) {
        const dirent *d = ::readdir(m_dir);
        if (!d) {
            finish();
            break;
        }
        const QByteArray name(d->d_name);
        struct stat info;
        if (FileSystem::isHiddenName(name) || ::stat((m_folder + name).constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            found.append({name, true, 0});
        else if (S_ISREG(info.st_mode))
            found.append({name, false, qint64(info.st_size)});
    }
    return found;
}
