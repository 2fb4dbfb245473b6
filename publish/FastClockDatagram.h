#pragma once

#include <QByteArray>
#include <QString>

// What the slave clocks of a module meeting are told: the plain-text datagram
// they already understand, one "key=value" line after the word "fastclock".
struct FastClockState
{
    QString name;
    QString ipAddress;
    quint16 ipPort = 0;
    QString text;
    bool active = false;
    int speed = 1;
    int secondsOfDay = 0;
    int intervalSeconds = 2;
};

namespace FastClockDatagram {

// Slave clocks pick their master by name and show the text on small
// displays; longer values are cut, counted in characters (code points).
constexpr int NameMaxLength = 20;
constexpr int TextMaxLength = 255;
// The longest address text there is (IPv6).
constexpr int AddressMaxLength = 45;

// A value as it may go into one line: line breaks and other control
// characters become spaces, then it is cut to maxLength characters.
QString cleanField(const QString &value, int maxLength);

}  // namespace FastClockDatagram

// The datagram's text, each line ended by CR LF. Name and text are cleaned
// here as well, so no value can break the line structure. Characters are sent
// as UTF-8: plain ASCII is one byte per character, as the clocks' firmware
// reads it, and anything beyond ASCII keeps its meaning for clocks that show
// UTF-8 instead of turning into '?'.
QByteArray fastClockDatagram(const FastClockState &state);
