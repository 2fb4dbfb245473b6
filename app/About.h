// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;

// What the program is and where to read more about it.
class About : public QDialog
{
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("Quorandel 1.20");

    explicit About(const QString &version, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;

private:
    QLabel *addLabel(const QString &text, const QRect &rect, double points, bool bold);
};
