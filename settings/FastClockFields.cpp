// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/FastClockFields.h"

#include <QList>

namespace {

bool breaksTheLine(char32_t c)
{
    return c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029;
}

}  // namespace

QString FastClockDatagram::cleanField(const QString &value, int maxLength)
{
    QList<uint> codePoints = value.toUcs4();
    for (uint &c : codePoints) {
        if (breaksTheLine(c))
            c = ' ';
    }
    if (codePoints.size() > maxLength)
        codePoints.resize(maxLength);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()), codePoints.size());
}

