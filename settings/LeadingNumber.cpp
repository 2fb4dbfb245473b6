// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/LeadingNumber.h"

#include <QLocale>

#include <cmath>

namespace {

QString withoutBlanks(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            out.append(c);
    }
    return out;
}

// Like the classic reader, a value that fills 16 or 32 bits reads as the
// signed number of that width ("&HFFFF" is -1).
double radixNumber(const QString &digits, int radix)
{
    double value = 0;
    for (QChar c : digits) {
        const int d = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (d < 0 || d >= radix)
            break;
        value = value * radix + d;
    }
    if (value >= 32768.0 && value < 65536.0)
        return value - 65536.0;
    if (value >= 2147483648.0 && value < 4294967296.0)
        return value - 4294967296.0;
    return value;
}

// Sign, digits, point, digits, exponent: the longest prefix that reads as one.
double decimalNumber(const QString &t)
{
    int i = 0;
    auto digits = [&] { while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) ++i; };
    if (i < t.size() && (t.at(i) == u'+' || t.at(i) == u'-'))
        ++i;
    digits();
    if (i < t.size() && t.at(i) == u'.') {
        ++i;
        digits();
    }
    const int mantissaEnd = i;
    if (i < t.size() && (t.at(i).toLower() == u'e' || t.at(i).toLower() == u'd')) {
        ++i;
        if (i < t.size() && (t.at(i) == u'+' || t.at(i) == u'-'))
            ++i;
        const int exponentStart = i;
        digits();
        if (i == exponentStart)
            i = mantissaEnd;
    }
    QString number = t.left(i);
    number.replace(QChar(u'd'), QChar(u'e'), Qt::CaseInsensitive);
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

}  // namespace

double leadingNumber(const QString &text)
{
    const QString t = withoutBlanks(text);
    if (t.startsWith(QStringLiteral("&H"), Qt::CaseInsensitive))
        return radixNumber(t.mid(2), 16);
    if (t.startsWith(QStringLiteral("&O"), Qt::CaseInsensitive))
        return radixNumber(t.mid(2), 8);
    return decimalNumber(t);
}
