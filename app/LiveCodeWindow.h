// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;

// The live page's QR code and address, for showing a phone across the desk:
// the same code as the join page's.
class LiveCodeWindow : public QDialog
{
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("The Live Page's Code");

    explicit LiveCodeWindow(const QString &address, QWidget *parent = nullptr);

    QLabel *code = nullptr;
    QLabel *address = nullptr;
};
