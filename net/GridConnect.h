// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// One CAN frame with a 29-bit (extended) header, as an LCC network carries it.
struct CanFrame
{
    quint32 header = 0;  // 29 bits
    QByteArray data;     // 0 to 8 bytes

    bool operator==(const CanFrame &other) const { return header == other.header && data == other.data; }
    bool operator!=(const CanFrame &other) const { return !(*this == other); }
};

// The GridConnect text form of CAN frames, as LCC hubs (JMRI's, OpenMRN's)
// exchange them over TCP: ":X" + the 29-bit header in hex + "N" + 0 to 8 data
// bytes in hex + ";".
namespace GridConnect {

// The longest frame text: ":X" 8 "N" 16 ";".
constexpr int MaxFrameLength = 28;

// Upper case, header as eight digits, and a line end after it so that a
// person reading the hub's log sees one frame a line (every hub skips it).
QByteArray encode(const CanFrame &frame);
// The frame text without the line end; for tests and log lines.
QByteArray text(const CanFrame &frame);

// Takes what a hub sends, in pieces as they come, and hands back the whole
// frames in it. Upper or lower case and any line ends or spaces between frames
// are taken; anything else (a line without ";", an odd number of data digits,
// more than 8 bytes, a standard 11-bit frame, a header beyond 29 bits, binary
// garbage) is skipped and counted, and never costs more memory than one
// frame's text: what follows a bad frame is read from the next ":".
class Reader
{
public:
    QList<CanFrame> feed(const QByteArray &bytes);
    // Frames and stretches of garbage skipped since the start.
    qint64 skipped() const { return m_skipped; }
    // Bytes held for a frame that has not ended yet (never above MaxFrameLength).
    int pending() const { return int(m_frame.size()); }

private:
    void finish(QList<CanFrame> &frames);
    void drop();

    QByteArray m_frame;        // from ':' on, while inside a frame
    bool m_inFrame = false;
    bool m_inGarbage = false;  // garbage is counted once per stretch
    qint64 m_skipped = 0;
};

// One frame's text (from ':' to ';' inclusive); false when it is not a
// well-formed extended data frame.
bool parse(const QByteArray &text, CanFrame *frame);

}  // namespace GridConnect
