// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A request as the server collects and understands it, as plain functions on
// wire bytes: the collected bytes are scanned until a request is complete,
// which is then handed back as a value, resolved to an answer (the web root,
// routes) that the server only sends.
//
// Two kinds of request share the port. The classic one is a file request:
// complete as soon as it matches "GET * HTTP/1.?*" or holds a line end, its
// headers never read, so what is decided never depends on how the peer's bytes
// were split into segments. A request for a built-in page (a path under
// BuiltInPrefix) is complete only with its header block and its body, which it
// may need (a password, a form).
constexpr qsizetype MaxRequestBytes = 8192;
constexpr qsizetype MaxBodyBytes = 1024;
inline const QByteArray BuiltInPrefix = QByteArrayLiteral("/quorandel");

enum class RequestStatus {
    Incomplete,
    Complete,
    TooLong,         // no complete request line within MaxRequestBytes
    HeadersTooLarge, // a built-in request whose header block is not complete within MaxRequestBytes
    BodyTooLarge,    // a built-in request announces more than MaxBodyBytes
    LengthRequired,  // a built-in request with a body method but no Content-Length
    BadLength,       // a Content-Length that is no number
    NulByte,         // a built-in request whose request line or headers hold a NUL byte
    TwoLengths,      // a built-in request with Content-Length headers that differ
    TransferEncoding,  // a built-in request with Transfer-Encoding: one Content-Length frames a body
};

struct HttpRequest
{
    QByteArray method;       // before the first blank
    QByteArray rawPath;      // between "GET " and " HTTP/1.", cut at its first "?"
    QByteArray query;        // after that "?"
    QByteArray decodedPath;  // rawPath with its %XX escapes decoded
    QByteArray version;      // "1.0", "1.1"
    bool matchesGet = false; // the request text matches "GET * HTTP/1.?*" (other file requests get 501)
    bool builtIn = false;    // a path under BuiltInPrefix
    QList<QPair<QByteArray, QByteArray>> headers;  // built-in requests only; names as sent
    QByteArray body;         // built-in requests only

    // The first header of that name (ASCII case ignored), trimmed; null when absent.
    QByteArray header(const QByteArray &name) const;
    // Every header of that name, in order.
    QByteArrayList headerValues(const QByteArray &name) const;
    // How often the header is given, names matched without regard to case.
    int headerCount(const QByteArray &name) const;
};

struct RequestScan
{
    RequestStatus status = RequestStatus::Incomplete;
    HttpRequest request;  // when Complete
    bool bodyPending = false;  // Incomplete: the head is whole, the body still short
};

// Scans what a connection has collected so far and, once a request is
// complete, hands it back parsed: the request pattern is matched and the path
// decoded here, once.
RequestScan scanRequest(const QByteArray &collected);

// True when a path names a built-in page: BuiltInPrefix itself or below it.
bool isBuiltInPath(const QByteArray &rawPath);
