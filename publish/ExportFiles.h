// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// File operations of the image export's last stage. Each reports success, but
// the export ignores every failure here: a picture that cannot be published
// now is simply published by a later tick.

// True when the file exists and can be taken with a non-blocking exclusive
// flock, i.e. no one else holds a lock on it (shared or exclusive). The lock
// is released again before returning.
bool isReadyExclusive(const QString &path);

// Deletes the file unless someone else holds a lock on it. A missing file
// counts as deleted.
bool removeUnlessLocked(const QString &path);

// Puts a copy of source in place of target in one step: the copy is written
// to a new file beside target and renamed over it. A reader that opened
// target before keeps reading the complete old file; one that opens it after
// gets the complete new one.
bool replaceAtomically(const QString &source, const QString &target);
