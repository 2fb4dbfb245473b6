// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/OfferedSpeeds.h"

#include <algorithm>

namespace OfferedSpeeds {

bool contains(int speed)
{
    return std::find(All.begin(), All.end(), speed) != All.end();
}

QByteArray listed(const QByteArray &lastJoiner)
{
    QByteArray list;
    for (qint16 n : All)
        list += (list.isEmpty() ? "" : n == All.back() ? ' ' + lastJoiner + ' ' : ", ") + QByteArray::number(n);
    return list;
}

}  // namespace OfferedSpeeds
