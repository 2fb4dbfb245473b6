// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FolderReader.h"
#include "web/HttpText.h"
#include "web/ListingBuilder.h"

#include <QLocale>

// The listing of a folder of the web root made in one go, as it was before
// the server made it in steps: the bytes the steps must give, and the time
// they must beat. For the benchmark and the tests.
inline QByteArray listingInOneGo(const QByteArray &root, const QByteArray &requestPath,
                                 const QLocale &locale = QLocale::system())
{
    ListingBuilder listing(requestPath, locale);
    for (FolderReader reader(root + percentDecoded(requestPath)); !reader.atEnd();)
        listing.add(reader.next(1024));
    while (!listing.write(1024)) {
    }
    return listing.page();
}
