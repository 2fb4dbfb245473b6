// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// The program's icon, a small clock face, drawn at any size. It lives apart
// from the window so that the live page's home-screen icons and the installed
// icon files come from the same drawing as the window icon; it needs no
// QGuiApplication.
QImage clockFaceIcon(int size);
