// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class ClockControl;
class QButtonGroup;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

// Chooses the speed N:1 of the model clock. A click on an option takes effect
// at once; OK goes on to the time dialog.
class frmSetSpeed : public QDialog
{
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("Set Clock Parameters");

    explicit frmSetSpeed(ClockControl &clock, QWidget *parent = nullptr);

    // The option for speed N:1; null for a speed not offered (there is no 7).
    QRadioButton *Speed(int index) const;

    void Speed_Click(int index);
    void btnDone_Click();

    QLabel *Label1 = nullptr;
    QFrame *ClockSP = nullptr;
    QButtonGroup *SpeedGroup = nullptr;
    QPushButton *btnDone = nullptr;

signals:
    // OK was pressed: the time comes next.
    void doneClicked();

private:
    void addSpeed(int index, const QString &caption, const QRect &rect);

    ClockControl &m_clock;
};
