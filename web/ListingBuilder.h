// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QLocale>

#include <map>

// The page listing a folder, made from its entries handed over a few at a
// time and written a few at a time, so that a folder of many thousand
// entries can be listed between other work. The entries may come in any
// order: they are kept in byte order of their names as they arrive (the
// system's own order differs between file systems and would make listings
// change from one machine to the next), and the bytes are those of the
// listing made in one go.
class ListingBuilder
{
public:
    // requestPath as the client sent it (escapes not yet decoded).
    ListingBuilder(const QByteArray &requestPath, const QLocale &locale);

    // Hidden and system entries must have been left out already.
    void add(const QList<FileSystem::Entry> &entries);
    // Writes up to `count` more entries of the page, once every entry has been
    // added; true when the page is complete.
    bool write(int count);
    const QByteArray &page() const { return m_page; }

private:
    enum class Part { Start, Folders, Files, Done };
    void begin();
    void nextPart();

    QByteArray m_rel;
    QLocale m_locale;
    std::map<QByteArray, qint64> m_folders;  // name, then size: byte order of the names
    std::map<QByteArray, qint64> m_files;
    std::map<QByteArray, qint64>::const_iterator m_next;
    Part m_part = Part::Start;
    QByteArray m_page;
};
