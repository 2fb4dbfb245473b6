// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OpenFiles.h"

#include <sys/resource.h>

#include <limits>

namespace {

qint64 shown(rlim_t limit)
{
    return limit == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit);
}

}  // namespace

qint64 raiseOpenFilesLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur != limit.rlim_max) {
        const rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            return shown(raised.rlim_cur);
    }
    return shown(limit.rlim_cur);
}
