// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// The program's own messages for the person running it, one line each on
// stderr as "quorandel: <text>". One category, so that a test can expect a
// message with QTest::ignoreMessage and a user can silence or raise them with
// QT_LOGGING_RULES (for example "quorandel.warning=false").
Q_DECLARE_LOGGING_CATEGORY(lcQuorandel)
