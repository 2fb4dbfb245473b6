#include "platform/FileSystem.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

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

qint64 fileLength(const QByteArray &path)
{
    struct stat info;
    if (!statPath(path, &info) || !S_ISREG(info.st_mode))
        return -1;
    return info.st_size;
}

QList<Entry> entries(const QByteArray &folder)
{
    QList<Entry> found;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return found;
    while (const dirent *d = ::readdir(dir)) {
        const QByteArray name(d->d_name);
        struct stat info;
        if (isHiddenName(name) || !statPath(joined(folder, name), &info))
            continue;
        if (S_ISDIR(info.st_mode))
            found.append({name, true, 0});
        else if (S_ISREG(info.st_mode))
            found.append({name, false, qint64(info.st_size)});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const Entry &a, const Entry &b) { return a.name < b.name; });
    return found;
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

QByteArray findFirstFile(const QByteArray &folder, const QByteArray &pattern)
{
    const QList<Entry> all = entries(folder);
    for (const Entry &e : all) {
        if (!e.isFolder && matchesPattern(e.name, pattern))
            return e.name;
    }
    return {};
}

}  // namespace FileSystem
