// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/FreeImageBitmap.h"

#include <QFile>

#include <FreeImage.h>

#include <utility>

FreeImageBitmap::~FreeImageBitmap()
{
    unload();
}

FreeImageBitmap::FreeImageBitmap(FreeImageBitmap &&other) noexcept
    : m_bitmap(std::exchange(other.m_bitmap, nullptr))
{
}

FreeImageBitmap &FreeImageBitmap::operator=(FreeImageBitmap &&other) noexcept
{
    if (this != &other) {
        unload();
        m_bitmap = std::exchange(other.m_bitmap, nullptr);
    }
    return *this;
}

FreeImageBitmap FreeImageBitmap::loadBmp(const QString &path)
{
    return FreeImageBitmap(FreeImage_Load(FIF_BMP, QFile::encodeName(path).constData(), BMP_DEFAULT));
}

bool FreeImageBitmap::savePng(const QString &path) const
{
    if (!m_bitmap)
        return false;
    return FreeImage_Save(FIF_PNG, m_bitmap, QFile::encodeName(path).constData(), PNG_DEFAULT) == TRUE;
}

void FreeImageBitmap::unload()
{
    if (m_bitmap)
        FreeImage_Unload(std::exchange(m_bitmap, nullptr));
}
