// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Log.h"

Q_LOGGING_CATEGORY(lcQuorandel, "quorandel")
