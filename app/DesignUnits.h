// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

// The windows were drawn in twips and points at 96 dots per inch. These
// helpers turn those design figures into pixels, so that the layout keeps its
// proportions whatever DPI the desktop reports.
namespace DesignUnits {

// 15 twips make one pixel.
int twipsToPixels(int twips);
QRect twips(int left, int top, int width, int height);

// A font of the design's point size, held in pixels so that it scales with the
// twips layout rather than with the desktop's font DPI. "MS Sans Serif" is
// not found on Linux; Liberation Sans has the same role and similar widths.
QFont font(double points, bool bold = false, const QString &family = QStringLiteral("Liberation Sans"));

// Gives a widget a plain background of one colour that its children inherit.
void paintBackground(QWidget *widget, const QColor &color);

}  // namespace DesignUnits
