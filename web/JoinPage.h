// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QrCode;

// The page for a poster at the entrance: the layout's name, the live page's
// address in large print and a QR code of it, black on white, with no script,
// so that it prints as it shows.

// The code as inline SVG, one path of dark modules on a white square that
// holds the quiet zone; an empty string for a null code.
QByteArray qrCodeSvg(const QrCode &code);

// The whole page, UTF-8. `name` may be empty (no layout named).
QByteArray joinPage(const QString &address, const QString &name);
