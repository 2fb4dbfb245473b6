// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Where a window sends a message for the user. The program shows a box with
// an OK button; tests record the texts instead, since a box would wait for a
// person to press OK.
using MessageSink = std::function<void(const QString &text)>;

// A box with an OK button that does not block its parent or the caller: the
// event loop, and with it the clock, keeps running while it is open.
MessageSink messageBoxSink(QWidget *parent, const QString &title);
