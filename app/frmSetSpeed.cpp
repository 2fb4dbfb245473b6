// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSetSpeed.h"

#include "app/DesignUnits.h"
#include "clock/ClockControl.h"
#include "clock/OfferedSpeeds.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <iterator>

using DesignUnits::twips;

frmSetSpeed::frmSetSpeed(ClockControl &clock, QWidget *parent)
    : QDialog(parent)
    , m_clock(clock)
{
    setWindowTitle(Caption);
    setFixedSize(twips(0, 0, 4905, 4560).size());

    Label1 = new QLabel(QStringLiteral("Set Clock Speed"), this);
    Label1->setGeometry(twips(960, 240, 3015, 375));
    Label1->setFont(DesignUnits::font(9.75, true));
    Label1->setAlignment(Qt::AlignCenter);

    ClockSP = new QFrame(this);
    ClockSP->setFrameStyle(QFrame::Box | QFrame::Sunken);
    ClockSP->setGeometry(twips(480, 600, 3975, 3135));

    // One exclusive group, so that marking one speed unmarks the others; none
    // is marked at first, because a click is what applies a speed.
    SpeedGroup = new QButtonGroup(this);
    // Where each offered speed's option stands, in the order of the list.
    const QRect places[] = {twips(1780, 720, 1000, 500),  twips(720, 1200, 1200, 500), twips(720, 1800, 1200, 500),
                            twips(720, 2400, 1200, 500),  twips(2700, 1200, 1200, 500), twips(2680, 1800, 1200, 500),
                            twips(2700, 2400, 1200, 495)};
    static_assert(std::size(places) == OfferedSpeeds::All.size());
    for (size_t i = 0; i < std::size(places); ++i) {
        const int n = OfferedSpeeds::All[i];
        addSpeed(n, n == 1 ? QStringLiteral(" 1:1") : QStringLiteral(" %1 : 1").arg(n), places[i]);
    }
    connect(SpeedGroup, &QButtonGroup::idClicked, this, &frmSetSpeed::Speed_Click);

    btnDone = new QPushButton(QStringLiteral("OK"), this);
    btnDone->setGeometry(twips(1800, 3960, 1000, 375));
    btnDone->setFont(DesignUnits::font(8.25, true));
    btnDone->setDefault(true);
    connect(btnDone, &QPushButton::clicked, this, &frmSetSpeed::btnDone_Click);
}

void frmSetSpeed::addSpeed(int index, const QString &caption, const QRect &rect)
{
    // The options are laid out in dialog coordinates but belong to the frame.
    auto *option = new QRadioButton(caption, ClockSP);
    option->setObjectName(QStringLiteral("Speed%1").arg(index));
    option->setGeometry(rect.translated(-ClockSP->pos()));
    option->setFont(DesignUnits::font(13.5));
    SpeedGroup->addButton(option, index);
}

QRadioButton *frmSetSpeed::Speed(int index) const
{
    return qobject_cast<QRadioButton *>(SpeedGroup->button(index));
}

void frmSetSpeed::Speed_Click(int index)
{
    m_clock.setSpeed(qint16(index));
}

void frmSetSpeed::btnDone_Click()
{
    emit doneClicked();
    close();
}
