// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

// The image of the hidden capture canvas: a surface of its own fixed size in
// its background colour, with the window capture drawn pixel for pixel at the
// top-left corner. What lies beyond the canvas is cut off; what the capture
// does not reach keeps the background. A null capture gives a null image.
QImage composeCanvas(const QImage &capture, const QSize &size, const QColor &background);
