// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Raises this process's soft limit of open files to its hard limit, as
// servers do: the soft limit a desktop session starts with is often a
// thousand, far below what a hall full of live pages needs. The soft limit in
// force afterwards (the old one when it could not be raised).
qint64 raiseOpenFilesLimit();
