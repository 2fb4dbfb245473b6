// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// File-system queries on local paths given as bytes. Linux file names are
// bytes, so paths go to the system calls unchanged: a round trip through
// QString would replace every byte that is not UTF-8, and such a file could
// then neither be found nor served.
//
// A name is hidden when it begins with "."; an entry that is neither a regular
// file nor a folder after following symbolic links (socket, pipe, device,
// dangling link) is a system entry. Neither is ever shown to the web.
namespace FileSystem {

struct Entry
{
    QByteArray name;
    bool isFolder = false;
    qint64 size = 0;  // bytes; 0 for folders
};

bool isHiddenName(const QByteArray &name);

// A regular file or folder whose own name is not hidden. A path ending in "/"
// names the folder itself and exists whenever that folder does.
bool exists(const QByteArray &path);
bool isFolder(const QByteArray &path);
bool isFile(const QByteArray &path);

// Letter case is ignored (ASCII only); "*" stands for any run of bytes, "?" for
// exactly one byte.
bool matchesPattern(const QByteArray &name, const QByteArray &pattern);

// The regular file whose name is `name` but for ASCII letter case, found by
// asking for each spelling in turn rather than by reading the folder: the name
// as given first, then the others in byte order. Empty when none is one.
// A name with L letters has 2^L spellings; see spellingCount().
QByteArray fileSpelledAs(const QByteArray &folder, const QByteArray &name);
qint64 spellingCount(const QByteArray &name);

}  // namespace FileSystem
