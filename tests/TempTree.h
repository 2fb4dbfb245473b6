#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A throw-away folder tree for file-system tests, made with the system calls
// so that names are exactly the bytes given. Entries, relative to the root:
// "name/" makes a folder, "name=N" a file of N bytes, "name" an empty file.
class TempTree
{
public:
    explicit TempTree(const QByteArrayList &entries = {})
    {
        for (const QByteArray &entry : entries)
            add(entry);
    }

    bool isValid() const { return m_dir.isValid(); }
    QByteArray root() const { return QFile::encodeName(m_dir.path()); }
    QByteArray path(const QByteArray &relative) const { return root() + '/' + relative; }

    void add(const QByteArray &entry)
    {
        if (entry.endsWith('/')) {
            ::mkdir(path(entry.chopped(1)).constData(), 0755);
            return;
        }
        const qsizetype eq = entry.lastIndexOf('=');
        bool sized = false;
        const qint64 size = eq < 0 ? 0 : entry.mid(eq + 1).toLongLong(&sized);
        const QByteArray name = sized ? entry.left(eq) : entry;
        const int fd = ::open(path(name).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            if (sized && size > 0 && ::ftruncate(fd, size) != 0)
                qWarning("TempTree: cannot size %s", name.constData());
            ::close(fd);
        }
    }

private:
    QTemporaryDir m_dir;
};
