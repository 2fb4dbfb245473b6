// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QLineEdit;
class QWidget;

// The picture of the main window that the export takes once a second, drawn
// into one image kept from second to second, so no grab allocates and clears
// a new one.
//
// The time display's digits are several hundred pixels high, too large for
// Qt's glyph cache, so each grab would draw them from their outlines: about a
// third of a whole grab. They change once a model minute, so their area is
// drawn again only when the display's text, selection or place has changed;
// the rest of the window is drawn every time, as QWidget::grab() draws it.
// Nothing else in the window lies over the digits' area.
class WindowPicture
{
public:
    explicit WindowPicture(QWidget &window);

    // Before it is set, the whole window is drawn every time.
    void setTimeDisplay(const QLineEdit *display) { m_display = display; }
    QImage grab();

private:
    QRect digitsArea() const;
    QString displayState() const;

    QWidget &m_window;
    const QLineEdit *m_display = nullptr;
    QImage m_image;
    QRect m_drawnArea;
    QString m_drawnState;
};
