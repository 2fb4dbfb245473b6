// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QLocale>

// The HTML page that lists a folder of the web root: its subfolders as links,
// then its files as a table of links with their sizes in KBytes, grouped by
// thousands the way the locale writes numbers. requestPath is the path as the
// client sent it (escapes not yet decoded); the folder listed is the one it
// maps to under root. Names are escaped for HTML, and the links percent-encode
// whatever a browser would otherwise not send back as the same bytes, so
// every listed entry can be fetched.
QByteArray DirListing(const QByteArray &root, const QByteArray &requestPath,
                      const QLocale &locale = QLocale::system());
