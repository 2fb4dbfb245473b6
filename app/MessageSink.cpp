// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MessageSink.h"

#include <QMessageBox>
#include <QPointer>

MessageSink messageBoxSink(QWidget *parent, const QString &title)
{
    QPointer<QWidget> owner(parent);
    return [owner, title](const QString &text) {
        auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    };
}
