#include "platform/FileNumbers.h"

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

QFile *FileNumbers::file(int n) const
{
    return valid(n) ? m_files[n].get() : nullptr;
}

void FileNumbers::close(int n)
{
    if (valid(n))
        m_files[n].reset();
}
