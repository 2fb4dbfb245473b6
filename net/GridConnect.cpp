// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/GridConnect.h"

#include "platform/HexDigit.h"

#include <utility>

namespace GridConnect {

namespace {

bool isSpace(char c)
{
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

}  // namespace

QByteArray text(const CanFrame &frame)
{
    QByteArray out = ":X" + QByteArray::number(frame.header & 0x1FFFFFFF, 16).rightJustified(8, '0') + 'N'
                      + frame.data.toHex() + ';';
    return out.toUpper();
}

QByteArray encode(const CanFrame &frame)
{
    return text(frame) + '\n';
}

bool parse(const QByteArray &text, CanFrame *frame)
{
    // ":X" h{1,8} "N" (hh){0,8} ";"
    if (text.size() < 5 || text[0] != ':' || (text[1] != 'X' && text[1] != 'x') || !text.endsWith(';'))
        return false;
    qsizetype n = 2;
    while (n < text.size() && text[n] != 'N' && text[n] != 'n')
        ++n;
    if (n < 3 || n > 10)
        return false;
    quint32 header = 0;
    for (qsizetype i = 2; i < n; ++i) {
        const int v = hexDigitValue(text[i]);
        if (v < 0)
            return false;
        header = header << 4 | quint32(v);
    }
    if (header > 0x1FFFFFFF)
        return false;
    const qsizetype digits = text.size() - 1 - (n + 1);
    if (digits % 2 != 0 || digits > 16)
        return false;
    QByteArray data;
    data.reserve(digits / 2);
    for (qsizetype i = n + 1; i < text.size() - 1; i += 2) {
        const int hi = hexDigitValue(text[i]);
        const int lo = hexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        data.append(char(hi << 4 | lo));
    }
    frame->header = header;
    frame->data = data;
    return true;
}

QList<CanFrame> Reader::feed(const QByteArray &bytes)
{
    QList<CanFrame> frames;
    for (const char c : bytes) {
        if (c == ':') {
            if (m_inFrame)
                drop();  // a frame that never ended
            m_inFrame = true;
            m_inGarbage = false;
            m_frame = QByteArray(1, c);
            continue;
        }
        if (!m_inFrame) {
            if (!isSpace(c) && !std::exchange(m_inGarbage, true))
                ++m_skipped;
            continue;
        }
        m_frame.append(c);
        if (c == ';')
            finish(frames);
        else if (m_frame.size() >= MaxFrameLength || isSpace(c))
            drop();
    }
    return frames;
}

void Reader::finish(QList<CanFrame> &frames)
{
    CanFrame frame;
    if (parse(m_frame, &frame))
        frames.append(frame);
    else
        ++m_skipped;
    m_frame.clear();
    m_inFrame = false;
}

// The rest up to the next ':' belongs to the bad frame and is not counted again.
void Reader::drop()
{
    ++m_skipped;
    m_frame.clear();
    m_inFrame = false;
    m_inGarbage = true;
}

}  // namespace GridConnect
