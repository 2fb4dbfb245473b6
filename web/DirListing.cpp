#include "web/DirListing.h"

#include "platform/FileSystem.h"
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

QByteArray folderSection(const QByteArray &rel, const QList<FileSystem::Entry> &folders)
{
    QByteArray out = "<b>Directories:</b><br>";
    for (const FileSystem::Entry &e : folders)
        out += link(rel, e.name) + "<br>\n";
    return out;
}

QByteArray fileSection(const QByteArray &rel, const QList<FileSystem::Entry> &files, const QLocale &locale)
{
    QByteArray out = "<br><b>Files:</b><br>"
                     "<table width=\"100%\" border=\"1\" cellpadding=\"3\" cellspacing=\"2\">\n";
    for (const FileSystem::Entry &e : files) {
        out += "<tr>\n<td width=\"100%\">" + link(rel, e.name) + "</td>\n";
        out += "<td nowrap>" + sizeText(e.size, locale) + " KBytes</td>\n</tr>\n";
    }
    return out + "</table>\n";
}

}  // namespace

QByteArray DirListing(const QByteArray &root, const QByteArray &requestPath, const QLocale &locale)
{
    const QByteArray rel = relativeFolder(requestPath);
    const QByteArray folder = collapsedSlashes((root.endsWith('/') ? root : root + '/') + rel);
    QList<FileSystem::Entry> folders, files;
    // A path that leaves the root is listed as empty rather than looked at.
    const QList<FileSystem::Entry> all = isConfinedPath(rel) ? FileSystem::entries(folder)
                                                             : QList<FileSystem::Entry>();
    for (const FileSystem::Entry &e : all)
        (e.isFolder ? folders : files).append(e);

    QByteArray page = "<html><body>";
    if (!folders.isEmpty())
        page += folderSection(rel, folders);
    if (!files.isEmpty())
        page += fileSection(rel, files, locale);
    if (folders.isEmpty() && files.isEmpty())
        page += "This folder is empty.";
    return page + "</body></html>";
}
