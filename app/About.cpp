// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/About.h"

#include "app/DesignUnits.h"

#include <QLabel>

using DesignUnits::twips;

About::About(const QString &version, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(Caption);
    setFixedSize(twips(0, 0, 4770, 3255).size());
    Label1 = addLabel(version, twips(240, 240, 4290, 480), 13.5, false);
    Label2 = addLabel(QStringLiteral("A master fast clock for model railways"),
                      twips(120, 1080, 4530, 375), 9.75, true);
    Label3 = addLabel(QStringLiteral("It sends the model time to the layout"),
                      twips(120, 1560, 4530, 375), 9.75, true);
    Label4 = addLabel(QStringLiteral("Read more in the README that comes with it"),
                      twips(120, 2040, 4530, 375), 9.75, true);
}

QLabel *About::addLabel(const QString &text, const QRect &rect, double points, bool bold)
{
    auto *label = new QLabel(text, this);
    label->setGeometry(rect);
    label->setFont(DesignUnits::font(points, bold));
    label->setAlignment(Qt::AlignCenter);
    return label;
}
