// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

// The dark olive of the main window's background, which the exported picture's
// canvas and the icon's hour marks share.
inline constexpr QRgb Olive = qRgb(65, 71, 31);
