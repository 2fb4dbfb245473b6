// SPDX-License-Identifier: GPL-3.0-or-later
#include "look/QrCode.h"

#include <QPainter>

#include <qrencode.h>

#include <memory>

QrCode::QrCode(const QByteArray &text)
{
    const std::unique_ptr<QRcode, void (*)(QRcode *)> code(
        QRcode_encodeString(text.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
    if (!code)
        return;
    m_width = code->width;
    m_modules.resize(qsizetype(m_width) * m_width);
    for (qsizetype i = 0; i < m_modules.size(); ++i)
        m_modules[i] = char(code->data[i] & 1);  // the lowest bit is the module; the others say what it is for
}

QImage QrCode::image(int scale) const
{
    const int side = (m_width + 2 * QuietZone) * scale;
    QImage picture(side, side, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    for (int y = 0; y < m_width; ++y)
        for (int x = 0; x < m_width; ++x)
            if (dark(x, y))
                painter.fillRect((x + QuietZone) * scale, (y + QuietZone) * scale, scale, scale, Qt::black);
    return picture;
}
