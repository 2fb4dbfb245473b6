// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LiveCodeWindow.h"

#include "app/DesignUnits.h"
#include "look/QrCode.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace {
// Modules a few pixels wide: a phone's camera reads it from across a desk.
constexpr int PixelsPerModule = 8;
}  // namespace

LiveCodeWindow::LiveCodeWindow(const QString &text, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(Caption);
    auto *layout = new QVBoxLayout(this);
    code = new QLabel(this);
    code->setPixmap(QPixmap::fromImage(QrCode(text.toUtf8()).image(PixelsPerModule)));
    code->setAlignment(Qt::AlignCenter);
    address = new QLabel(text, this);
    address->setFont(DesignUnits::font(15.75, true));
    address->setAlignment(Qt::AlignCenter);
    address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(code);
    layout->addWidget(address);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
