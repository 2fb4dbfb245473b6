// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/DirListing.h"

#include "platform/FolderReader.h"
#include "web/ListingBuilder.h"

QByteArray DirListing(const QByteArray &root, const QByteArray &requestPath, const QLocale &locale)
{
    ListingBuilder listing(requestPath, locale);
    for (FolderReader reader(ListingBuilder::folderOf(root, requestPath)); !reader.atEnd();)
        listing.add(reader.next(1024));
    while (!listing.write(1024)) {
    }
    return listing.page();
}
