// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/DccExClock.h"

namespace DccExClock {

QByteArray command(int secondsOfDay, int rate)
{
    return "<JC " + QByteArray::number(secondsOfDay / 60) + ' ' + QByteArray::number(rate) + '>';
}

QByteArrayList LineReader::feed(const QByteArray &bytes)
{
    QByteArrayList lines;
    for (const char c : bytes) {
        if (m_skipping) {
            m_skipping = c != '>';
        } else if (c == '<') {
            m_line = "<";
            m_open = true;
        } else if (!m_open) {
            continue;
        } else if (c == '>') {
            lines << m_line + '>';
            m_line.clear();
            m_open = false;
        } else if (m_line.size() + 1 >= MaxLineBytes) {
            m_line.clear();
            m_open = false;
            m_skipping = true;
        } else {
            m_line += c;
        }
    }
    return lines;
}

}  // namespace DccExClock
