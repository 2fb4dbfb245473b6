// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// The clock face of publish/ClockFaceIcon at the sizes a window asks for,
// drawn at start so that the program needs no picture files.
QIcon quorandelIcon();
