// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <functional>

class QObject;

// What the server sends for one request, decided before anything is sent.
struct WebAnswer
{
    enum Kind {
        Status,  // `head` is the whole response
        Text,    // `head`, then `body` in chunks
        File,    // the file at `localPath`, opened and streamed by the server
        Events,  // `head` and `body`, then the connection stays open for sendEvent()
        Later,   // made in steps between other events: `later` starts them
    };
    // Whether the connection that asked is still there to take the answer.
    using Wanted = std::function<bool()>;
    using Ready = std::function<void(const WebAnswer &)>;
    // Calls `ready` with the answer, unless `wanted` says no first; the work
    // belongs to `context` and ends with it.
    using Start = std::function<void(QObject *context, Wanted wanted, Ready ready)>;

    Kind kind = Status;
    QByteArray head;
    QByteArray body;
    QByteArray localPath;
    QByteArray requestPath;  // a file's: its type and the progress text come from it
    QByteArray logPath;      // written to the request log's connect line; null: no line
    Start later;

    static WebAnswer status(const QByteArray &response, const QByteArray &logPath = {})
    {
        return {Status, response, {}, {}, {}, logPath, {}};
    }
    static WebAnswer text(const QByteArray &head, const QByteArray &body, const QByteArray &logPath = {})
    {
        return {Text, head, body, {}, {}, logPath, {}};
    }
    static WebAnswer events(const QByteArray &head, const QByteArray &firstEvent)
    {
        return {Events, head, firstEvent, {}, {}, {}, {}};
    }
    static WebAnswer file(const QByteArray &localPath, const QByteArray &requestPath)
    {
        return {File, {}, {}, localPath, requestPath, localPath, {}};
    }
    static WebAnswer deferred(Start start)
    {
        return {Later, {}, {}, {}, {}, {}, std::move(start)};
    }
};
