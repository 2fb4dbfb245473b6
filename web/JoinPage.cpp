// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/JoinPage.h"

#include "look/QrCode.h"

namespace {

const char *const Style =
    "body{margin:0;padding:2rem 1rem;background:#fff;color:#000;font-family:sans-serif;text-align:center}"
    "h1{font-size:3rem;margin:0 0 .5rem}p{font-size:1.5rem;margin:.5rem 0}"
    ".address{font-size:2.5rem;font-weight:bold;overflow-wrap:anywhere;margin:1rem 0}"
    "svg{display:block;width:min(80vw,60vh);height:auto;margin:1rem auto}"
    "@media print{body{padding:0}}";

// Dark modules next to each other in a row are one rectangle.
QByteArray darkRuns(const QrCode &code)
{
    QByteArray path;
    for (int y = 0; y < code.width(); ++y) {
        for (int x = 0; x < code.width();) {
            if (!code.dark(x, y)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < code.width() && code.dark(x, y))
                ++x;
            const QByteArray run = QByteArray::number(x - start);
            path += 'M' + QByteArray::number(start + QrCode::QuietZone) + ' ' + QByteArray::number(y + QrCode::QuietZone)
                    + 'h' + run + "v1h-" + run + 'z';
        }
    }
    return path;
}

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

}  // namespace

QByteArray qrCodeSvg(const QrCode &code)
{
    if (code.isNull())
        return {};
    const QByteArray side = QByteArray::number(code.width() + 2 * QrCode::QuietZone);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + side + ' ' + side
           + "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"QR code of the live clock's address\">"
           + "<rect width=\"" + side + "\" height=\"" + side + "\" fill=\"#fff\"/><path fill=\"#000\" d=\""
           + darkRuns(code) + "\"/></svg>";
}

QByteArray joinPage(const QString &address, const QString &name)
{
    const QByteArray heading = name.trimmed().isEmpty() ? QByteArray("The layout's clock") : escaped(name.trimmed());
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>"
           + heading + "</title><style>" + Style + "</style></head><body><h1>" + heading
           + "</h1><p>The model time on your phone: scan the code, or open</p>"
           + qrCodeSvg(QrCode(address.toUtf8())) + "<p class=\"address\">" + escaped(address) + "</p></body></html>\n";
}
