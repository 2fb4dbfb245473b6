// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/RequestLog.h"

#include "platform/Log.h"

namespace {

// Qt's long time formats end in a time zone ("t"), which a log line of local
// times does not need. Drops every unquoted "t" and the spaces it leaves.
QString withoutTimeZone(const QString &format)
{
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            out.append(c);
    }
    return out.simplified();
}

}  // namespace

bool RequestLog::open(const QString &path)
{
    close();
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (!m_failureReported)
        qCWarning(lcQuorandel, "cannot open the request log %s: %s", qUtf8Printable(path),
                  qUtf8Printable(m_file.errorString()));
    m_failureReported = true;
    return false;
}

void RequestLog::WriteLog(const QByteArray &line)
{
    if (!isOpen())
        return;
    m_file.write(line + "\r\n");
    m_file.flush();
}

void RequestLog::noteControl(const QByteArray &peer, const QByteArray &what, bool refused)
{
    const QByteArray line = "control " + what;
    WriteLog(noteLine(QDateTime::currentDateTime(), peer, line));
    if (refused)
        qCWarning(lcQuorandel, "%s: %s", peer.constData(), withoutControls(line).constData());
    else
        qCInfo(lcQuorandel, "%s: %s", peer.constData(), withoutControls(line).constData());
}

void RequestLog::noteCounted(const QByteArray &channel, const QByteArray &text)
{
    WriteLog(noteLine(QDateTime::currentDateTime(), channel, text));
    qCWarning(lcQuorandel, "%s: %s", channel.constData(), withoutControls(text).constData());
}

QByteArray RequestLog::dateTimeText(const QDateTime &when, const QLocale &locale)
{
    // Seconds are the finest unit shown, so "exactly midnight" is 00:00:00.
    const QTime time = when.time();
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += QLatin1Char(' ') + locale.toString(time, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
    return text.toUtf8();
}

// A path comes from the network: its control characters must not start a
// line of their own (or move the cursor of whoever reads the log).
QByteArray RequestLog::withoutControls(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            out += '%' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QByteArray RequestLog::noteLine(const QDateTime &when, const QByteArray &peerAddress, const QByteArray &text,
                                const QLocale &locale)
{
    return dateTimeText(when, locale) + ": " + peerAddress + ": " + withoutControls(text);
}

QByteArray RequestLog::connectLine(const QDateTime &when, const QByteArray &peerAddress,
                                   const QByteArray &localPath, const QLocale &locale)
{
    return dateTimeText(when, locale) + ": " + peerAddress + ": " + withoutControls(localPath);
}

QByteArray RequestLog::errorLine(const QDateTime &when, int slot, int errorNumber,
                                 const QByteArray &description, const QLocale &locale)
{
    return dateTimeText(when, locale) + ": (" + QByteArray::number(slot) + ") Error "
        + QByteArray::number(errorNumber) + " - " + description;
}
