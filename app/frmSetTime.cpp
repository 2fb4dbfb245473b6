// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSetTime.h"

#include "app/DesignUnits.h"
#include "clock/ClockControl.h"
#include "clock/TimeEntry.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

using DesignUnits::twips;

frmSetTime::frmSetTime(ClockControl &clock, MessageSink message, QWidget *parent)
    : QDialog(parent)
    , m_clock(clock)
    , m_message(std::move(message))
{
    setWindowTitle(Caption);
    setFixedSize(twips(0, 0, 4905, 4560).size());
    buildControls();
    connect(Setto12AM, &QPushButton::clicked, this, &frmSetTime::Setto12AM_Click);
    connect(btnSet, &QPushButton::clicked, this, &frmSetTime::btnSet_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmSetTime::btnCancel_Click);
}

void frmSetTime::buildControls()
{
    Label1 = addLabel(QStringLiteral("Set Time"), twips(960, 120, 3015, 375), 15, Qt::AlignCenter);
    Label4 = addLabel(QStringLiteral("Hours :  "), twips(240, 780, 1095, 495), 17.25,
                      Qt::AlignRight | Qt::AlignVCenter);
    txtHour = addEntry(twips(1920, 720, 1455, 615));
    Label5 = addLabel(QStringLiteral("Minutes :  "), twips(360, 1680, 1095, 495), 13.5,
                      Qt::AlignRight | Qt::AlignVCenter);
    txtMinute = addEntry(twips(1920, 1560, 1455, 600));
    Setto12AM = addButton(QStringLiteral("Set To 12 AM"), twips(1800, 2640, 1215, 495));
    btnSet = addButton(QStringLiteral("Set"), twips(480, 3840, 855, 375));
    btnCancel = addButton(QStringLiteral("Cancel"), twips(3240, 3840, 855, 375));
    btnSet->setDefault(true);
}

QLabel *frmSetTime::addLabel(const QString &text, const QRect &rect, double points,
                             Qt::Alignment align)
{
    auto *label = new QLabel(text, this);
    label->setFont(DesignUnits::font(points, true));
    label->setAlignment(align);
    // The design's narrow boxes were made for a narrower face. A right-aligned
    // caption that does not fit grows to the left, as far as the dialog's edge,
    // and only then gets a smaller size, so that it stays whole and as large
    // as it can be.
    QRect r = rect;
    if (align & Qt::AlignRight) {
        QFont font = label->font();
        r.setLeft(std::max(0, r.right() + 1 - QFontMetrics(font).horizontalAdvance(text)));
        while (QFontMetrics(font).horizontalAdvance(text) > r.width() && font.pixelSize() > 8)
            font.setPixelSize(font.pixelSize() - 1);
        label->setFont(font);
    }
    label->setGeometry(r);
    return label;
}

QLineEdit *frmSetTime::addEntry(const QRect &rect)
{
    auto *entry = new QLineEdit(this);
    entry->setGeometry(rect);
    entry->setFont(DesignUnits::font(13.5, true));
    return entry;
}

QPushButton *frmSetTime::addButton(const QString &text, const QRect &rect)
{
    auto *button = new QPushButton(text, this);
    button->setGeometry(rect);
    button->setFont(DesignUnits::font(8.25, true));
    return button;
}

void frmSetTime::Setto12AM_Click()
{
    txtHour->setText(QStringLiteral("0"));
    txtMinute->setText(QStringLiteral("0"));
}

void frmSetTime::btnSet_Click()
{
    const TimeEntry e = readTimeEntry(txtHour->text(), txtMinute->text());
    if (e.outcome == TimeEntry::NotWholeNumber) {
        // Kept open with the entries as typed, so that they can be corrected.
        m_message(e.message);
        (e.minuteAtFault ? txtMinute : txtHour)->setFocus();
        return;
    }
    if (e.outcome == TimeEntry::OutOfRange) {
        m_message(e.message);
        close();
        return;
    }
    m_clock.setTimeAndHold(e.hour, e.minute);
    close();
}

void frmSetTime::btnCancel_Click()
{
    close();
}
