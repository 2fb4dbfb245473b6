#pragma once

#include <QLoggingCategory>

// The program's one logging category, "quorandel": warnings for the user on
// stderr, which QT_LOGGING_RULES can silence or raise.
Q_DECLARE_LOGGING_CATEGORY(lcQuorandel)
