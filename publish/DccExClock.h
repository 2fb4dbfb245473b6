// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>

// The fast clock in DCC-EX's native commands, as plain functions on bytes.
namespace DccExClock {

// The longest "<...>" taken from a command station; a longer run without
// '>' is dropped unread.
constexpr int MaxLineBytes = 256;

// "<JC mmmm rr>": the model minutes since midnight (0 to 1439) and the speed;
// rate 0 holds the station's clock, the only pause it knows.
QByteArray command(int secondsOfDay, int rate);

// Cuts what a command station sends into "<...>" pieces. Bytes outside
// them are skipped, and a piece that grows past MaxLineBytes without its '>'
// is dropped with everything up to its end; so reading never holds more than
// MaxLineBytes.
class LineReader
{
public:
    QByteArrayList feed(const QByteArray &bytes);
    qsizetype pending() const { return m_line.size(); }

private:
    QByteArray m_line;   // from its '<', while one is open
    bool m_open = false;
    bool m_skipping = false;  // inside a piece that was too long
};

}  // namespace DccExClock
