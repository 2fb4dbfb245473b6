// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ExportFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// An open descriptor that closes itself; -1 when the open failed.
class OpenFile
{
public:
    explicit OpenFile(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~OpenFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // flock belongs to the open file description, so this conflicts with any
    // other open of the file that holds a lock, in this process or another.
    bool lockExclusive() const
    {
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
        while (rc != 0 && errno == EINTR);
        return rc == 0;
    }

private:
    int m_fd = -1;
};

} // namespace

bool isReadyExclusive(const QString &path)
{
    const OpenFile file(path);
    return file.isOpen() && file.lockExclusive();
}

bool removeUnlessLocked(const QString &path)
{
    const OpenFile file(path);
    if (!file.isOpen())
        return !QFileInfo::exists(path);
    // Unlinking while holding the lock: nobody can take it in between.
    return file.lockExclusive() && ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool replaceAtomically(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // Same folder as target, so the rename below stays on one file system and
    // is atomic.
    QTemporaryFile out(target + QStringLiteral(".XXXXXX"));
    if (!out.open())
        return false;
    if (out.write(in.readAll()) != in.size() || !out.flush())
        return false;
    // A temporary file is private to its owner; the published one is read by
    // whatever serves the web root.
    out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (std::rename(QFile::encodeName(out.fileName()).constData(),
                    QFile::encodeName(target).constData()) != 0)
        return false;
    out.setAutoRemove(false);
    return true;
}
