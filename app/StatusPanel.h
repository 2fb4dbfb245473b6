// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/SlotStatus.h"

#include <QFrame>
#include <QMap>
#include <QTimer>
#include <QVector>

class QLabel;

// The main window's connection status panel (Picture1): one line for the web
// server's listener and one for each connection slot, 240 twips apart, from
// the top; and from the bottom up, one line for each topic that has something
// to say (a channel's state, the live pages, the session).
class StatusPanel : public QFrame, public SlotStatus
{
    Q_OBJECT
public:
    // A transfer changes its line with every chunk, hundreds of times a
    // second under load: a line shows its newest text at once, then at most
    // once per RefreshMs, so that laying out and painting texts no one can
    // read that fast does not hold up the clock's broadcasts.
    static constexpr int RefreshMs = 100;

    explicit StatusPanel(QWidget *parent);

    // Status label n, created on first use 240 twips below label n - 1 with
    // the look of label 0. Null for a negative index.
    QLabel *LFileProgress(int index);
    void loadSlot(int slot) override;
    void setSlotText(int slot, const QString &text) override;
    QString slotText(int slot) const override;
    // The topic's line: made below the others on first use, its text replaced
    // after that; an empty text keeps the line, empty.
    void showTopic(const QString &topic, const QString &text);
    QString topicText(const QString &topic) const;

private:
    QLabel *newLine(const QString &name, int top);
    void showWaitingTexts();

    QVector<QLabel *> m_lines;
    QVector<QPair<QString, QLabel *>> m_topics;  // in the order they first spoke, from the bottom up
    QMap<int, QString> m_waiting;  // the newest text of each line not shown yet
    QTimer m_refresh;
};
