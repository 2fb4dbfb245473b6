#pragma once

#include <QByteArray>

// What the server sends for one request, decided before anything is sent.
struct WebAnswer
{
    enum Kind {
        Status,  // `head` is the whole response
        Text,    // `head`, then `body` in chunks
        File,    // the file at `localPath`, opened and streamed by the server
        Events,  // `head` and `body`, then the connection stays open for sendEvent()
    };
    Kind kind = Status;
    QByteArray head;
    QByteArray body;
    QByteArray localPath;
    QByteArray requestPath;  // a file's: its type and the progress text come from it
    QByteArray logPath;      // written to the request log's connect line; null: no line

    static WebAnswer status(const QByteArray &response, const QByteArray &logPath = {})
    {
        return {Status, response, {}, {}, {}, logPath};
    }
    static WebAnswer text(const QByteArray &head, const QByteArray &body, const QByteArray &logPath = {})
    {
        return {Text, head, body, {}, {}, logPath};
    }
    static WebAnswer events(const QByteArray &head, const QByteArray &firstEvent)
    {
        return {Events, head, firstEvent, {}, {}, {}};
    }
    static WebAnswer file(const QByteArray &localPath, const QByteArray &requestPath)
    {
        return {File, {}, {}, localPath, requestPath, localPath};
    }
};
