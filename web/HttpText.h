// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

// The web server's protocol pieces as plain functions on wire bytes (one byte
// per character), so that every decision about a request can be checked
// without a socket.

// The text after the first occurrence of `find` in `str`, found byte for byte
// or ignoring ASCII letter case; when there is none, the empty text or `str`
// unchanged.
enum class Compare { Exact, IgnoreCase };
enum class OnMissing { Empty, Source };
QByteArray LeftRight(const QByteArray &str, const QByteArray &find, Compare compare, OnMissing onMissing);

// "GET * HTTP/1.?*" against the start of some bytes, letter case significant,
// "*" spanning line ends: where the shortest prefix that matches ends (-1 when
// none does), and what the GET asks for, the bytes between "GET " and the
// first " HTTP/1." after it.
struct GetMatch
{
    qsizetype end = -1;
    QByteArray target;
};
GetMatch matchGetPattern(const QByteArray &data);

// The tests a request path must pass before it is mapped: not empty, and no
// "/./", "/../", "*" or "?".
bool passesPathTests(const QByteArray &requestPath);

// Every "%XX" with two hex digits becomes its byte; anything else stays.
QByteArray percentDecoded(const QByteArray &text);

// True when a decoded path has no "." or ".." segment, no NUL byte and no "*".
// "\" is an ordinary byte in a Linux file name, but it also ends a segment
// here, so that "..\" spellings meant for other systems are refused as well.
bool isConfinedPath(const QByteArray &decodedPath);

// Every "//" becomes "/", in one pass from left to right.
QByteArray collapsedSlashes(const QByteArray &path);

// The local file-system path of a request path, given decoded: the web root
// followed by that path. No value means the request reaches outside the web
// root (or cannot be said as a file name) and is answered 404 without a log
// line. The root is the operator's own path and is never decoded.
std::optional<QByteArray> localPathFor(const QByteArray &webRoot, const QByteArray &decodedPath);

// "Content-Type: ..." for the text after the first "." of the request path.
QByteArray contentTypeLine(const QByteArray &requestPath);

// Complete response headers, each line ended by LF alone, closed by an empty line.
QByteArray okHeader(const QByteArray &typeLine, qint64 contentLength, const QByteArray &versionCaption);
QByteArray notFoundResponse(const QByteArray &versionCaption);
QByteArray notImplementedResponse(const QByteArray &versionCaption);
QByteArray serviceUnavailableResponse(const QByteArray &versionCaption);
// "HTTP/1.0 <status>", the Server line and the given lines, closed by an empty line.
QByteArray responseHead(const QByteArray &status, const QByteArray &versionCaption, const QByteArrayList &lines);
// A complete answer carrying one line of text for a person; `lines` go
// before its type and length.
QByteArray textResponse(const QByteArray &status, const QByteArray &versionCaption, const QByteArray &text,
                        const QByteArrayList &lines = {});
