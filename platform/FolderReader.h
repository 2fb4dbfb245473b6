// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>

#include <dirent.h>

// The regular files and folders of one folder whose names are not hidden (as
// FileSystem describes them), read a few at a time: a folder of many thousand
// entries costs a stat() each, and read in one go it would hold up whatever
// else the caller has to do. Entries come in the system's order.
class FolderReader
{
public:
    explicit FolderReader(const QByteArray &folder);
    ~FolderReader();
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    // The next entries among at most `count` names of the folder (hidden and
    // system entries count too, so the work per call stays bounded); empty
    // once atEnd().
    QList<FileSystem::Entry> next(int count);
    // True after the last name, and from the start for a folder that cannot be read.
    bool atEnd() const { return m_dir == nullptr; }

private:
    void finish();

    QByteArray m_folder;
    DIR *m_dir = nullptr;
};
