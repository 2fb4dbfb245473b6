// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/FormBody.h"

#include "platform/HexDigit.h"

#include "web/HttpText.h"

#include <optional>

namespace {
constexpr qsizetype MaxQuotedBytes = 40;

std::optional<QByteArray> unescaped(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '%') {
            out += c == '+' ? ' ' : c;
            continue;
        }
        const int high = i + 2 < text.size() ? hexDigitValue(text.at(i + 1)) : -1;
        const int low = high < 0 ? -1 : hexDigitValue(text.at(i + 2));
        if (low < 0)
            return std::nullopt;
        out += char(high * 16 + low);
        i += 2;
    }
    return out;
}

// Adds one "name=value" piece, or says why it cannot be added.
QByteArray addField(FormBody &form, const QByteArray &piece)
{
    const qsizetype eq = piece.indexOf('=');
    if (eq < 0)
        return "The field \"" + quotedForReason(piece) + "\" has no '='.";
    const std::optional<QByteArray> name = unescaped(piece.left(eq));
    const std::optional<QByteArray> value = unescaped(piece.mid(eq + 1));
    if (!name || !value)
        return "The field \"" + quotedForReason(piece) + "\" has a '%' without two hex digits.";
    if (name->isEmpty())
        return "A field has no name.";
    if (name->contains('\0') || value->contains('\0'))
        return "The field \"" + quotedForReason(piece) + "\" holds a NUL byte.";
    if (form.has(*name))
        return "The field \"" + quotedForReason(*name) + "\" is given twice.";
    form.fields.append({*name, *value});
    return {};
}
}  // namespace

bool FormBody::has(const QByteArray &name) const
{
    for (const FormField &f : fields)
        if (f.name == name)
            return true;
    return false;
}

QByteArray FormBody::value(const QByteArray &name) const
{
    for (const FormField &f : fields)
        if (f.name == name)
            return f.value;
    return {};
}

FormBody decodeFormBody(const QByteArray &body)
{
    FormBody form;
    if (body.size() > MaxFormBodyBytes) {
        form.error = "The form is larger than " + QByteArray::number(MaxFormBodyBytes) + " bytes.";
        return form;
    }
    if (body.isEmpty())
        return form;
    // Quoted, a NUL would show as '?' and the reason would not say what is wrong.
    if (body.contains('\0')) {
        form.error = "The form holds a NUL byte.";
        return form;
    }
    for (const QByteArray &piece : body.split('&')) {
        form.error = addField(form, piece);
        if (!form.ok()) {
            form.fields.clear();
            return form;
        }
    }
    return form;
}

QByteArray quotedForReason(const QByteArray &text)
{
    QByteArray out = text.left(MaxQuotedBytes);
    for (char &c : out)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return text.size() > MaxQuotedBytes ? out + "..." : out;
}
