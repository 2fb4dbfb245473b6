// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// An application/x-www-form-urlencoded body taken apart into its fields, in
// the order sent. The body comes from the network, so anything odd is refused
// with a one-line reason rather than guessed at.
constexpr qsizetype MaxFormBodyBytes = 1024;

struct FormField
{
    QByteArray name;
    QByteArray value;
};

struct FormBody
{
    QList<FormField> fields;
    QByteArray error;  // empty when the body was well formed

    bool ok() const { return error.isEmpty(); }
    bool has(const QByteArray &name) const;
    QByteArray value(const QByteArray &name) const;  // empty when absent
};

// '+' is a blank and "%XX" a byte. Refused: a body over MaxFormBodyBytes, a
// field without '=' (an empty one between two '&' included), an empty name,
// a name given twice, and a '%' not followed by two hex digits.
FormBody decodeFormBody(const QByteArray &body);

// A text from the peer made safe to quote inside a one-line reason: bytes
// outside printable ASCII become '?', and a long text is cut.
QByteArray quotedForReason(const QByteArray &text);
