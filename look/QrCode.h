// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>

// A QR code of a short text (an address), made by libqrencode: the one code
// that the join page draws as SVG and the window draws as a picture.
class QrCode
{
public:
    // The light margin that readers need around the code, in modules.
    static constexpr int QuietZone = 4;

    // Medium error correction: a poster may be creased or partly in shadow.
    // A null code when the text cannot be encoded.
    explicit QrCode(const QByteArray &text);

    bool isNull() const { return m_width == 0; }
    // Modules on a side, without the quiet zone.
    int width() const { return m_width; }
    bool dark(int x, int y) const { return m_modules.at(qsizetype(y) * m_width + x) != 0; }
    // Black on white with the quiet zone, `scale` pixels a module.
    QImage image(int scale) const;

private:
    int m_width = 0;
    QByteArray m_modules;  // row by row, 1 for a dark module
};
