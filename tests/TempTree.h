// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A throw-away folder whose entries are made with the system calls, so that
// names are exactly the bytes given: "name/" is a folder, "name=N" a file of N
// bytes, "name" an empty file.
class TempTree
{
public:
    explicit TempTree(const QByteArrayList &entries = {})
    {
        for (const QByteArray &entry : entries)
            add(entry);
    }

    void add(const QByteArray &entry)
    {
        const QByteArrayList nameAndSize = entry.split('=');
        const QByteArray name = path(nameAndSize.first());
        if (name.endsWith('/')) {
            m_valid &= ::mkdir(name.constData(), 0755) == 0;
            return;
        }
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        m_valid &= fd >= 0 && ::ftruncate(fd, nameAndSize.value(1).toLongLong()) == 0;
        ::close(fd);
    }

    bool isValid() const { return m_valid && m_dir.isValid(); }
    QByteArray root() const { return QFile::encodeName(m_dir.path()); }
    QByteArray path(const QByteArray &relative) const { return root() + '/' + relative; }

private:
    QTemporaryDir m_dir;
    bool m_valid = true;
};
