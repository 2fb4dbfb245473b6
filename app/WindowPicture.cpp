// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowPicture.h"

#include <QLineEdit>
#include <QWidget>

WindowPicture::WindowPicture(QWidget &window)
    : m_window(window)
{
}

QImage WindowPicture::grab()
{
    const QRect whole(QPoint(), m_window.size());
    if (whole.isEmpty())
        return QImage();
    QRegion region(whole);
    const QRect area = digitsArea();
    const QString state = displayState();
    if (m_image.size() == whole.size() && area == m_drawnArea && state == m_drawnState)
        region -= area;
    if (m_image.size() != whole.size())
        m_image = QImage(whole.size(), QImage::Format_RGB32);
    m_drawnArea = area;
    m_drawnState = state;
    m_window.render(&m_image, QPoint(), region, QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return m_image;
}

QRect WindowPicture::digitsArea() const
{
    if (!m_display || !m_display->isVisibleTo(&m_window))
        return QRect();
    const QRect inside = m_display->contentsRect().marginsRemoved(m_display->textMargins());
    return inside.translated(m_display->mapTo(&m_window, QPoint()));
}

QString WindowPicture::displayState() const
{
    if (!m_display)
        return QString();
    return QStringLiteral("%1/%2/%3")
        .arg(m_display->selectionStart())
        .arg(m_display->selectionLength())
        .arg(m_display->text());
}
