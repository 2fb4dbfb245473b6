// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Numbers that the settings record keeps as text (the port, the trims, and
// any numeric field another tool stored as text), in both directions.

// The text of a number as the user's locale writes it, without grouping.
QString numberText(double value);

// The value of such a text: blanks around it allowed, then a number as the C
// locale reads it (a point, and commas only as thousands separators) or else
// as the user's locale reads it. False when the text is not a number; "nan"
// and "inf" are numbers here, so callers that need a finite value check.
bool storedNumber(const QString &text, double *value);
