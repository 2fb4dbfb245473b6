#pragma once

#include <QByteArray>

// The index file of a folder: the first of the ";"-separated items of
// indexHTML (taken as they are, empty ones included) that names a regular file
// in the folder. Letter case is ignored and an item with "*" or "?" is a file
// pattern; the result is the name as the folder spells it, empty when no item
// matches. Hidden files never qualify, so a pattern such as "*.htm" cannot
// pick up a ".draft.htm" that the listing and the server would refuse to show.
QByteArray FindIndexFile(const QByteArray &folder, const QByteArray &indexHTML);
