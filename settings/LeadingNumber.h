// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The value of the number a text begins with, read the way the port field has
// always been read: blanks, tabs and line feeds anywhere are ignored, "." is
// the decimal point whatever the locale, "&H" and "&O" start hexadecimal and
// octal digits, and reading stops at the first character that cannot continue
// the number. A text that starts with no number is worth 0.
double leadingNumber(const QString &text);
