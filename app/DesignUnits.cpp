// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DesignUnits.h"

#include <QPalette>
#include <QWidget>

#include <cmath>

namespace DesignUnits {

int twipsToPixels(int twips)
{
    return int(std::lround(twips / 15.0));
}

QRect twips(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

QFont font(double points, bool bold, const QString &family)
{
    QFont f(family);
    f.setPixelSize(int(std::lround(points * 96.0 / 72.0)));
    f.setBold(bold);
    return f;
}

void paintBackground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::Base, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace DesignUnits
