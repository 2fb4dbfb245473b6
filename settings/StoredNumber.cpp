// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/StoredNumber.h"

#include <QLocale>

QString numberText(double value)
{
    QString text = QString::number(value, 'g', 15);
    return text.replace(u'.', QLocale::system().decimalPoint());
}

bool storedNumber(const QString &text, double *value)
{
    const QString t = text.trimmed();
    bool ok = false;
    *value = QLocale::c().toDouble(t, &ok);
    if (!ok)
        *value = QLocale::system().toDouble(t, &ok);
    return ok;
}
