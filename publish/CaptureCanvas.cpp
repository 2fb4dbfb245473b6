// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/CaptureCanvas.h"

#include <QPainter>

QImage composeCanvas(const QImage &capture, const QSize &size, const QColor &background)
{
    if (capture.isNull() || size.isEmpty())
        return {};
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(background);
    // A grab on a high-density screen carries a pixel ratio that QPainter would
    // honour by shrinking the picture; the canvas wants device pixels.
    QImage source = capture;
    source.setDevicePixelRatio(1.0);
    QPainter painter(&canvas);
    painter.drawImage(0, 0, source);
    return canvas;
}
