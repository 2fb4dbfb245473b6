// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// The window's picture as a 256-colour palette image, the way a palette
// display has always captured it: a window is mostly flat colour, and a
// palette picture is encoded as PNG several times faster than a true-colour
// one, which keeps each export tick short on the event loop.
//
// With 256 colours or fewer the picture is exact. With more (the soft edges of
// text), the 256 most frequent colours form the palette and every other colour
// takes its nearest entry. A picture with more than MaxColours colours is not
// a window's and is returned unchanged.
QImage toPalette(const QImage &image);

namespace PaletteImage {
constexpr int MaxColours = 4096;
}
