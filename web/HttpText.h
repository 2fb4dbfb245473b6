// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <optional>

// The web server's protocol pieces as plain functions on wire bytes (one byte
// per character), so that every decision about a request can be checked
// without a socket.

// Text helpers. How they find: byte for byte, or ignoring ASCII letter case.
// What a failed search gives: the empty text, or the source unchanged.
enum class Compare { Exact, IgnoreCase };
enum class OnMissing { Empty, Source };
QByteArray LeftRight(const QByteArray &str, const QByteArray &find, Compare compare, OnMissing onMissing);
QByteArray Between(const QByteArray &src, const QByteArray &startText, const QByteArray &endText,
                   Compare compare, OnMissing onMissing);

// Length of the shortest prefix of data that matches "GET * HTTP/1.?*"; -1
// when no prefix does.
qsizetype requestPatternEnd(const QByteArray &data);

// "GET * HTTP/1.?*" over the whole text, letter case significant; "*" spans
// line ends.
bool matchesRequestPattern(const QByteArray &text);

// What a GET asks for: the text between "GET " and " HTTP/1.", query included.
QByteArray requestTargetOf(const QByteArray &text);

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

// The local file-system path of a request path: the web root followed by the
// decoded request path. No value means the request reaches outside the web
// root (or cannot be said as a file name) and is answered 404 without a log
// line. The root is the operator's own path and is never decoded.
std::optional<QByteArray> localPathFor(const QByteArray &webRoot, const QByteArray &requestPath);

// "Content-Type: ..." for the text after the first "." of the request path.
QByteArray contentTypeLine(const QByteArray &requestPath);

// Complete response headers, each line ended by LF alone, closed by an empty line.
QByteArray okHeader(const QByteArray &typeLine, qint64 contentLength, const QByteArray &versionCaption);
QByteArray notFoundResponse(const QByteArray &versionCaption);
QByteArray notImplementedResponse(const QByteArray &versionCaption);
QByteArray serviceUnavailableResponse(const QByteArray &versionCaption);
// "HTTP/1.0 <status>", the Server line and the given lines, closed by an empty line.
QByteArray responseHead(const QByteArray &status, const QByteArray &versionCaption, const QByteArrayList &lines);
// A complete answer carrying one line of text for a person.
QByteArray textResponse(const QByteArray &status, const QByteArray &versionCaption, const QByteArray &text);
