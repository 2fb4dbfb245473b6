// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/IndexFile.h"

#include "platform/FolderReader.h"

namespace {

// Lookups of spellings one request may make; a miss is a cheap stat(), but
// 2^L of them for a long name are not.
constexpr qint64 MaxLookups = 512;

// A folder's entries never hold "/" or NUL, and hidden ones are never shown.
bool canMatch(const QByteArray &item)
{
    return !item.isEmpty() && !FileSystem::isHiddenName(item) && !item.contains('/') && !item.contains('\0');
}

// The spelling exactly as given beats the others, as it does in a lookup.
bool preferred(const QByteArray &name, const QByteArray &current, const QByteArray &item)
{
    if (current.isNull() || name == item)
        return true;
    return current != item && name < current;
}

bool isPattern(const QByteArray &item)
{
    return item.contains('*') || item.contains('?');
}

}  // namespace

IndexLookup lookUpIndexFile(const QByteArray &folder, const QByteArray &indexHTML)
{
    if (indexHTML.isEmpty())
        return {};
    const QByteArrayList items = indexHTML.split(';');
    qint64 budget = MaxLookups;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QByteArray &item = items[i];
        if (!canMatch(item))
            continue;
        const qint64 cost = FileSystem::spellingCount(item);
        if (isPattern(item) || cost > budget)
            return {{}, items.mid(i)};
        budget -= cost;
        if (const QByteArray name = FileSystem::fileSpelledAs(folder, item); !name.isEmpty())
            return {name, {}};
    }
    return {};
}

QByteArray FindIndexFile(const QByteArray &folder, const QByteArray &indexHTML)
{
    const IndexLookup lookup = lookUpIndexFile(folder, indexHTML);
    if (lookup.pending.isEmpty())
        return lookup.found;
    IndexCandidates candidates(lookup.pending);
    for (FolderReader reader(folder); !reader.atEnd();)
        candidates.see(reader.next(1024));
    return candidates.found();
}

IndexCandidates::IndexCandidates(const QByteArrayList &pending)
    : m_items(pending)
{
    m_first.resize(m_items.size());
}

void IndexCandidates::see(const QList<FileSystem::Entry> &entries)
{
    for (const FileSystem::Entry &e : entries) {
        if (e.isFolder || FileSystem::isHiddenName(e.name))
            continue;
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            const QByteArray &item = m_items[i];
            if (preferred(e.name, m_first[i], item) && canMatch(item) && FileSystem::matchesPattern(e.name, item))
                m_first[i] = e.name;
        }
    }
}

QByteArray IndexCandidates::found() const
{
    for (const QByteArray &name : m_first) {
        if (!name.isNull())
            return name;
    }
    return {};
}
