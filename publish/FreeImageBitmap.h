// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

struct FIBITMAP;

// One bitmap loaded by FreeImage, released when it goes out of scope.
//
// NOTE: FreeImage.h is kept out of this header on purpose: it defines BOOL,
// TRUE, BYTE and friends as macros. The shared library initialises itself
// when it is loaded, so nobody calls FreeImage_Initialise.
class FreeImageBitmap
{
public:
    FreeImageBitmap() = default;
    ~FreeImageBitmap();
    FreeImageBitmap(FreeImageBitmap &&other) noexcept;
    FreeImageBitmap &operator=(FreeImageBitmap &&other) noexcept;
    FreeImageBitmap(const FreeImageBitmap &) = delete;
    FreeImageBitmap &operator=(const FreeImageBitmap &) = delete;

    // FreeImage_Load, format BMP, flags 0. A null bitmap when it fails.
    static FreeImageBitmap loadBmp(const QString &path);

    bool isNull() const { return m_bitmap == nullptr; }
    // FreeImage_Save, format PNG, flags 0 (the library's default settings).
    bool savePng(const QString &path) const;
    // FreeImage_Unload; the bitmap is null afterwards.
    void unload();

private:
    explicit FreeImageBitmap(FIBITMAP *bitmap) : m_bitmap(bitmap) {}

    FIBITMAP *m_bitmap = nullptr;
};
