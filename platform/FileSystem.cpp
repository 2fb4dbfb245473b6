// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

namespace FileSystem {

namespace {

// stat() follows symbolic links, so a link the operator placed counts as
// whatever it points to, and a dangling one as nothing.
bool statPath(const QByteArray &path, struct stat *info)
{
    return !path.isEmpty() && ::stat(path.constData(), info) == 0;
}

QByteArray lastName(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// ASCII only, whatever locale the process runs in: names are bytes, not text.
char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool isAsciiLetter(char c)
{
    return asciiLower(c) != asciiUpper(c);
}

bool sameByteIgnoringCase(char a, char b)
{
    return asciiLower(a) == asciiLower(b);
}

}  // namespace

bool isHiddenName(const QByteArray &name)
{
    return name.startsWith('.');
}

bool exists(const QByteArray &path)
{
    if (path.endsWith('/'))
        return isFolder(path);
    if (isHiddenName(lastName(path)))
        return false;
    return isFolder(path) || isFile(path);
}

bool isFolder(const QByteArray &path)
{
    struct stat info;
    return statPath(path, &info) && S_ISDIR(info.st_mode);
}

bool isFile(const QByteArray &path)
{
    struct stat info;
    return statPath(path, &info) && S_ISREG(info.st_mode);
}

// Greedy matching with one backtrack point: on a mismatch the last "*" takes
// one more byte. Linear enough for file names and never recursive.
bool matchesPattern(const QByteArray &name, const QByteArray &pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || sameByteIgnoringCase(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

qint64 spellingCount(const QByteArray &name)
{
    const qint64 letters = std::count_if(name.begin(), name.end(), isAsciiLetter);
    return letters >= 62 ? std::numeric_limits<qint64>::max() : qint64(1) << letters;
}

// Spelling k has its i-th letter (of L) in lower case when bit L-1-i of k is
// set: upper case sorts first, so counting k up walks the spellings in byte order.
QByteArray fileSpelledAs(const QByteArray &folder, const QByteArray &name)
{
    if (isFile(joined(folder, name)))
        return name;
    const qint64 letters = std::count_if(name.begin(), name.end(), isAsciiLetter);
    for (qint64 k = 0; k < spellingCount(name); ++k) {
        QByteArray spelling = name;
        qint64 i = letters;
        for (char &c : spelling) {
            if (isAsciiLetter(c))
                c = (k >> --i) & 1 ? asciiLower(c) : asciiUpper(c);
        }
        if (spelling != name && isFile(joined(folder, spelling)))
            return spelling;
    }
    return {};
}

}  // namespace FileSystem
