// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusPanel.h"

#include "app/DesignUnits.h"
#include "look/Olive.h"

#include <QApplication>

#include <algorithm>
#include <QLabel>

using DesignUnits::twips;

StatusPanel::StatusPanel(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("Picture1"));
    setGeometry(twips(120, 960, 2355, 10395));
    DesignUnits::paintBackground(this, QColor(Olive));
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &StatusPanel::showWaitingTexts);

    // Element 0 is as wide as the panel, not as its design box, so that the
    // longer texts of a transfer can be read.
    auto *first = new QLabel(QStringLiteral("(No Connection)"), this);
    first->setObjectName(QStringLiteral("LFileProgress0"));
    first->setGeometry(0, 0, width(), twips(0, 0, 1155, 195).height());
    first->setFont(DesignUnits::font(8.25));
    first->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette look = first->palette();
    look.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    look.setColor(QPalette::WindowText, Qt::black);
    first->setPalette(look);
    first->setAutoFillBackground(true);
    m_lines.append(first);
}

QLabel *StatusPanel::LFileProgress(int index)
{
    if (index < 0)
        return nullptr;
    if (index >= m_lines.size())
        m_lines.resize(index + 1, nullptr);
    if (QLabel *label = m_lines[index])
        return label;
    m_lines[index] = newLine(QStringLiteral("LFileProgress%1").arg(index), index * DesignUnits::twipsToPixels(240));
    return m_lines[index];
}

// A line with the look of label 0.
QLabel *StatusPanel::newLine(const QString &name, int top)
{
    const QLabel *first = m_lines[0];
    auto *label = new QLabel(this);
    label->setObjectName(name);
    label->setGeometry(first->x(), top, first->width(), first->height());
    label->setFont(first->font());
    label->setPalette(first->palette());
    label->setAutoFillBackground(first->autoFillBackground());
    label->setAlignment(first->alignment());
    label->show();
    return label;
}

void StatusPanel::showTopic(const QString &topic, const QString &text)
{
    auto known = std::find_if(m_topics.begin(), m_topics.end(), [&](const auto &t) { return t.first == topic; });
    if (known == m_topics.end()) {
        const int top = height() - int(m_topics.size() + 1) * DesignUnits::twipsToPixels(240);
        m_topics.append({topic, newLine(QStringLiteral("Topic%1").arg(m_topics.size()), top)});
        known = m_topics.end() - 1;
    }
    known->second->setText(text);
    known->second->setToolTip(text);
}

QString StatusPanel::topicText(const QString &topic) const
{
    for (const auto &t : m_topics) {
        if (t.first == topic)
            return t.second->text();
    }
    return {};
}

// A new slot's line starts as a copy of the listener's, text included.
void StatusPanel::loadSlot(int slot)
{
    if (LFileProgress(slot))
        setSlotText(slot, slotText(0));
}

QString StatusPanel::slotText(int slot) const
{
    if (m_waiting.contains(slot))
        return m_waiting.value(slot);
    return slot >= 0 && slot < m_lines.size() && m_lines[slot] ? m_lines[slot]->text() : QString();
}

void StatusPanel::setSlotText(int slot, const QString &text)
{
    QLabel *label = LFileProgress(slot);
    if (!label)
        return;
    if (m_refresh.isActive()) {
        m_waiting.insert(slot, text);
        return;
    }
    label->setText(text);
    label->setToolTip(text);  // a long transfer line is cut at the panel's edge
    m_refresh.start();
}

void StatusPanel::showWaitingTexts()
{
    if (m_waiting.isEmpty())
        return;
    for (auto it = m_waiting.cbegin(); it != m_waiting.cend(); ++it) {
        m_lines[it.key()]->setText(it.value());
        m_lines[it.key()]->setToolTip(it.value());
    }
    m_waiting.clear();
    m_refresh.start();
}
