#pragma once

#include <QByteArray>

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

// A request line may arrive in pieces. Collected data is complete as soon as
// it matches "GET * HTTP/1.?*" or holds a line end (LF), whichever comes
// first; the request text is the data up to that point, so what is decided
// never depends on how the peer's bytes were split into segments.
constexpr qsizetype MaxRequestBytes = 8192;

enum class RequestStatus { Incomplete, Complete, TooLong };

struct RequestScan
{
    RequestStatus status = RequestStatus::Incomplete;
    QByteArray text;  // the request text, when Complete
};

RequestScan scanRequest(const QByteArray &collected);

// "GET * HTTP/1.?*" over the whole text, letter case significant; "*" spans
// line ends.
bool matchesRequestPattern(const QByteArray &text);

// The path between "GET " and " HTTP/1.", cut at its first "?" so that a query
// string never reaches the file system.
QByteArray requestPathOf(const QByteArray &text);

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
