// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/ListingBuilder.h"

#include "web/HttpText.h"

namespace {

// The folder part of the links, from the web root on: no leading "/", one
// trailing "/" (the root itself is "/"), escapes decoded.
QByteArray relativeFolder(const QByteArray &requestPath)
{
    QByteArray rel = requestPath.startsWith('/') ? requestPath.mid(1) : requestPath;
    if (!rel.endsWith('/'))
        rel.append('/');
    return percentDecoded(rel);
}

QByteArray htmlEscaped(const QByteArray &text)
{
    QByteArray out;
    for (const char c : text) {
        switch (c) {
        case '&': out.append("&amp;"); break;
        case '<': out.append("&lt;"); break;
        case '>': out.append("&gt;"); break;
        case '"': out.append("&quot;"); break;
        default: out.append(c);
        }
    }
    return out;
}

// "%", "#" and "?" would be read as an escape, a fragment and a query. Bytes
// outside printable ASCII are encoded too: the page declares no character
// set, and a browser re-encodes such a name from its own guess of one.
// Spaces stay, as browsers send them escaped anyway.
QByteArray hrefEncoded(const QByteArray &path)
{
    QByteArray out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '#' || c == '?' || byte < 0x20 || byte >= 0x7f)
            out.append('%').append(QByteArray::number(byte, 16).rightJustified(2, '0').toUpper());
        else
            out.append(c);
    }
    return out;
}

QByteArray link(const QByteArray &rel, const QByteArray &name)
{
    const QByteArray href = collapsedSlashes('/' + rel + name);
    return "<a href=\"" + htmlEscaped(hrefEncoded(href)) + "\">" + htmlEscaped(name) + "</a>";
}

// Kilobytes rounded half up, always grouped: the C locale omits group
// separators unless told otherwise.
QByteArray sizeText(qint64 bytes, QLocale locale)
{
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString((bytes + 512) / 1024).toUtf8();
}

QByteArray fileRow(const QByteArray &rel, const QByteArray &name, qint64 size, const QLocale &locale)
{
    return "<tr>\n<td width=\"100%\">" + link(rel, name) + "</td>\n<td nowrap>" + sizeText(size, locale)
        + " KBytes</td>\n</tr>\n";
}

const QByteArray PageStart = "<html><body>";
const QByteArray PageEnd = "</body></html>";
const QByteArray FoldersStart = "<b>Directories:</b><br>";
const QByteArray FilesStart = "<br><b>Files:</b><br>"
                              "<table width=\"100%\" border=\"1\" cellpadding=\"3\" cellspacing=\"2\">\n";
const QByteArray FilesEnd = "</table>\n";

}  // namespace

ListingBuilder::ListingBuilder(const QByteArray &requestPath, const QLocale &locale)
    : m_rel(relativeFolder(requestPath))
    , m_locale(locale)
{
}

void ListingBuilder::add(const QList<FileSystem::Entry> &entries)
{
    for (const FileSystem::Entry &e : entries)
        (e.isFolder ? m_folders : m_files).emplace(e.name, e.size);
}

bool ListingBuilder::write(int count)
{
    if (m_part == Part::Start)
        begin();
    for (int i = 0; i < count && m_part != Part::Done; ++i) {
        if (m_part == Part::Folders)
            m_page += link(m_rel, m_next->first) + "<br>\n";
        else
            m_page += fileRow(m_rel, m_next->first, m_next->second, m_locale);
        if (++m_next == (m_part == Part::Folders ? m_folders : m_files).cend())
            nextPart();
    }
    return m_part == Part::Done;
}

void ListingBuilder::begin()
{
    m_page = PageStart;
    if (m_folders.empty() && m_files.empty()) {
        m_page += "This folder is empty." + PageEnd;
        m_part = Part::Done;
    } else if (!m_folders.empty()) {
        m_page += FoldersStart;
        m_part = Part::Folders;
        m_next = m_folders.cbegin();
    } else {
        nextPart();
    }
}

// From the folders (or the start) to the files, and from the files to the end.
void ListingBuilder::nextPart()
{
    if (m_part != Part::Files && !m_files.empty()) {
        m_page += FilesStart;
        m_part = Part::Files;
        m_next = m_files.cbegin();
        return;
    }
    if (m_part == Part::Files)
        m_page += FilesEnd;
    m_page += PageEnd;
    m_part = Part::Done;
}
