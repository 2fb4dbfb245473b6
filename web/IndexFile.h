// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QByteArrayList>

// The index file of a folder: the first of the ";"-separated items of
// indexHTML (taken as they are, empty ones included) that names a regular file
// in the folder. Letter case is ignored and an item with "*" or "?" is a file
// pattern; the result is the name as the folder spells it (the first in byte
// order when several spellings match, though the spelling exactly as given
// wins), empty when no item matches. Hidden files never qualify, so a pattern
// such as "*.htm" cannot pick up a ".draft.htm" that the listing and the
// server would refuse to show.
QByteArray FindIndexFile(const QByteArray &folder, const QByteArray &indexHTML);

// The same search in two halves, so that a large folder need not be read in
// one go. lookUpIndexFile() asks for each spelling of a name and never reads
// the folder; it stops at the first item it cannot settle that way (a
// pattern, or a name with more spellings than are worth asking for) and
// leaves that item and the ones after it as `pending`.
struct IndexLookup
{
    QByteArray found;
    QByteArrayList pending;
};
IndexLookup lookUpIndexFile(const QByteArray &folder, const QByteArray &indexHTML);

// Settles the pending items from the folder's entries, seen in any order and
// as many at a time as the caller likes.
class IndexCandidates
{
public:
    explicit IndexCandidates(const QByteArrayList &pending);
    void see(const QList<FileSystem::Entry> &entries);
    // Once every entry has been seen: the first item's first match in byte
    // order, or the next item's, ...; empty when none matched.
    QByteArray found() const;

private:
    QByteArrayList m_items;
    QByteArrayList m_first;  // per item, the smallest matching name so far
};
