// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>

#include <array>
#include <memory>

// Files the program holds open are kept under numbers 1 to 255: the request
// log is always number 1, and each file being served takes the lowest free
// number and gives it back when it is closed.
class FileNumbers
{
public:
    static constexpr int First = 1;
    static constexpr int Last = 255;
    static constexpr int RequestLog = 1;

    // 0 when every number is in use.
    int lowestFree() const;
    // Opens path under number n; false (and n stays free) when it cannot.
    bool open(int n, const QString &path, QIODevice::OpenMode mode);
    // Opens a regular file for reading under number n, by its path as bytes:
    // Linux names are bytes, and a name that is not UTF-8 would not survive
    // the way through QString. False (n stays free) for anything else.
    bool openForReading(int n, const QByteArray &path);
    QFile *file(int n) const;
    bool isOpen(int n) const { return file(n) != nullptr; }
    void close(int n);

private:
    static bool valid(int n) { return n >= First && n <= Last; }
    std::array<std::unique_ptr<QFile>, Last + 1> m_files;
};
