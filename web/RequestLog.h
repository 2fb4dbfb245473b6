// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QString>

// The web server's request log: plain text lines ended by CR LF. Earlier runs
// are kept (new lines are appended), and every line is flushed at once so
// that it survives an abrupt end of the program.
class RequestLog
{
public:
    RequestLog() = default;
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    // Opens or creates the file for appending. A log that cannot be opened is
    // reported once on stderr and stays closed; the server runs on without it.
    bool open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    void close() { m_file.close(); }

    // Writes the line and CR LF; does nothing while the log is closed.
    void WriteLog(const QByteArray &line);
    // A command from a remote controller (the live page, the layout network),
    // "control " and `what`, noted here and told on stderr; a refused one as
    // a warning. The peer is "192.168.1.20" or "LCC alias 3AE".
    void noteControl(const QByteArray &peer, const QByteArray &what, bool refused);
    // Refusals counted instead of noted one by one, as one warning line:
    // "LCC: 59,999 more set events refused from ... in the last minute".
    void noteCounted(const QByteArray &channel, const QByteArray &text);

    // The local date and time as the log writes it: the locale's short date, a
    // space and its long time without a time zone; at exactly midnight the
    // date alone.
    static QByteArray dateTimeText(const QDateTime &when, const QLocale &locale = QLocale::system());
    // One line per accepted request: when, the peer's address and the local
    // path, its control characters (below 0x20, and 0x7F) written as %XX so
    // that one request is always one line.
    static QByteArray connectLine(const QDateTime &when, const QByteArray &peerAddress,
                                  const QByteArray &localPath, const QLocale &locale = QLocale::system());
    // One line about something a peer did that is not a file request (the
    // live page's control), control characters written as %XX.
    static QByteArray noteLine(const QDateTime &when, const QByteArray &peerAddress, const QByteArray &text,
                               const QLocale &locale = QLocale::system());
    // Control characters (below 0x20, and 0x7F) as %XX.
    static QByteArray withoutControls(const QByteArray &bytes);
    // One line per failed progress update of a slot.
    static QByteArray errorLine(const QDateTime &when, int slot, int errorNumber,
                                const QByteArray &description, const QLocale &locale = QLocale::system());

private:
    QFile m_file;
    bool m_failureReported = false;
};
