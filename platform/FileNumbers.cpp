// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileNumbers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int FileNumbers::lowestFree() const
{
    for (int n = First; n <= Last; ++n) {
        if (!m_files[n])
            return n;
    }
    return 0;
}

bool FileNumbers::open(int n, const QString &path, QIODevice::OpenMode mode)
{
    if (!valid(n) || m_files[n])
        return false;
    auto f = std::make_unique<QFile>(path);
    if (!f->open(mode))
        return false;
    m_files[n] = std::move(f);
    return true;
}

bool FileNumbers::openForReading(int n, const QByteArray &path)
{
    if (!valid(n) || m_files[n] || path.contains('\0'))
        return false;
    // O_NONBLOCK: opening a pipe that was put where a file was expected must
    // not wait for a writer; the descriptor is refused just below anyway.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    auto f = std::make_unique<QFile>();
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !f->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    m_files[n] = std::move(f);
    return true;
}

QFile *FileNumbers::file(int n) const
{
    return valid(n) ? m_files[n].get() : nullptr;
}

void FileNumbers::close(int n)
{
    if (valid(n))
        m_files[n].reset();
}
