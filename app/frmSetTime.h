// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MessageSink.h"

#include <QDialog>

class ClockControl;
class QLabel;
class QLineEdit;
class QPushButton;

// Takes an hour and a minute and sets the model time, which holds the clock
// until the next Start.
class frmSetTime : public QDialog
{
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("Set Clock Parameters");

    frmSetTime(ClockControl &clock, MessageSink message, QWidget *parent = nullptr);

    void Setto12AM_Click();
    void btnSet_Click();
    void btnCancel_Click();

    QLabel *Label1 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *txtHour = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *txtMinute = nullptr;
    QPushButton *Setto12AM = nullptr;
    QPushButton *btnSet = nullptr;
    QPushButton *btnCancel = nullptr;

private:
    void buildControls();
    QLabel *addLabel(const QString &text, const QRect &rect, double points, Qt::Alignment align);
    QLineEdit *addEntry(const QRect &rect);
    QPushButton *addButton(const QString &text, const QRect &rect);

    ClockControl &m_clock;
    MessageSink m_message;
};
