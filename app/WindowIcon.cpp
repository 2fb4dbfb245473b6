// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowIcon.h"

#include "look/ClockFaceIcon.h"

#include <QPixmap>

QIcon quorandelIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(clockFaceIcon(size)));
    return icon;
}
