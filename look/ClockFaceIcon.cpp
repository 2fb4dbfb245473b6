// SPDX-License-Identifier: GPL-3.0-or-later
#include "look/ClockFaceIcon.h"

#include "look/Olive.h"

#include <QColor>
#include <QPainter>

#include <cmath>

namespace {
void drawHand(QPainter &p, double degrees, double length, double width)
{
    const double rad = degrees * M_PI / 180.0;
    p.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(length * std::sin(rad), -length * std::cos(rad)));
}
}  // namespace

// packaging/io.github.quorandel.Quorandel.svg draws the same face: change both.
QImage clockFaceIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.translate(16, 16);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(232, 228, 200));
    p.drawEllipse(QPointF(0, 0), 14.5, 14.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(Olive), 2));
    for (int h = 0; h < 12; h += 3) {
        p.save();
        p.rotate(h * 30);
        p.drawLine(QPointF(0, -12.5), QPointF(0, -10));
        p.restore();
    }
    drawHand(p, 10 * 30 + 5, 7, 2.5);  // ten past ten, the clock maker's pose
    drawHand(p, 60, 11, 1.8);
    return image;
}
