// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/HttpRequest.h"

#include "web/HttpText.h"

#include <algorithm>

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

// Where a file request ends: after the match or after the first LF, whichever
// is sooner; -1 while neither has arrived.
qsizetype classicEnd(const QByteArray &data, qsizetype matchEnd)
{
    const qsizetype lineEnd = data.indexOf('\n');
    if (lineEnd < 0)
        return matchEnd;
    if (matchEnd < 0)
        return lineEnd + 1;
    return std::min(lineEnd + 1, matchEnd);
}

QByteArray firstLine(const QByteArray &data)
{
    const qsizetype end = data.indexOf('\n');
    return (end < 0 ? data : data.left(end)).trimmed();
}

// The second word of the first line: the path a request asks for.
QByteArray targetOf(const QByteArray &data)
{
    const QByteArray line = firstLine(data);
    const qsizetype first = line.indexOf(' ');
    if (first < 0)
        return {};
    const qsizetype second = line.indexOf(' ', first + 1);
    return line.mid(first + 1, second < 0 ? -1 : second - first - 1);
}

QByteArray withoutQuery(const QByteArray &target)
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

// End of the header block (after its empty line), -1 while it has not come.
qsizetype headerBlockEnd(const QByteArray &data)
{
    const qsizetype crlf = data.indexOf("\r\n\r\n");
    const qsizetype lf = data.indexOf("\n\n");
    if (crlf < 0)
        return lf < 0 ? -1 : lf + 2;
    return lf < 0 ? crlf + 4 : std::min(crlf + 4, lf + 2);
}

Headers headersOf(const QByteArray &data, qsizetype headersEnd)
{
    const qsizetype lineEnd = data.indexOf('\n');
    Headers headers;
    for (const QByteArray &h : data.mid(lineEnd + 1, headersEnd - lineEnd - 1).split('\n')) {
        const qsizetype colon = h.indexOf(':');
        if (colon > 0)
            headers.append({h.left(colon).trimmed(), h.mid(colon + 1).trimmed()});
    }
    return headers;
}

// The request line of the request `text`; `get` is what the request pattern
// found in the bytes collected, of which `text` is the start.
HttpRequest requestOf(const QByteArray &text, const GetMatch &get)
{
    HttpRequest r;
    const QByteArray line = firstLine(text);
    r.method = line.left(line.indexOf(' '));
    r.matchesGet = get.end >= 0 && get.end <= text.size();
    const QByteArray target = r.matchesGet ? get.target : targetOf(text);
    const qsizetype query = target.indexOf('?');
    r.rawPath = query < 0 ? target : target.left(query);
    r.query = query < 0 ? QByteArray() : target.mid(query + 1);
    r.decodedPath = percentDecoded(r.rawPath);
    const qsizetype mark = line.lastIndexOf(" HTTP/");
    r.version = mark < 0 ? QByteArray() : line.mid(mark + 6);
    r.builtIn = isBuiltInPath(r.rawPath);
    return r;
}

bool isDecimal(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A built-in request of `size` bytes: only a path under the prefix has its
// headers and body read.
HttpRequest builtInRequestOf(const QByteArray &collected, const GetMatch &get, qsizetype headersEnd, qsizetype size)
{
    HttpRequest r = requestOf(collected.left(size), get);
    if (r.builtIn) {
        r.headers = headersOf(collected, headersEnd);
        r.body = collected.mid(headersEnd, size - headersEnd);
    }
    return r;
}

// The head read before its body came is the request, unless the request
// pattern first matched within the body: its line then reads as the whole
// text gives it.
RequestScan complete(const QByteArray &collected, const GetMatch &get, HttpRequest head, qsizetype headersEnd,
                     qsizetype bodyBytes)
{
    const qsizetype size = headersEnd + bodyBytes;
    if (get.end > headersEnd && get.end <= size)
        return {RequestStatus::Complete, builtInRequestOf(collected, get, headersEnd, size)};
    if (head.builtIn)
        head.body = collected.mid(headersEnd, bodyBytes);
    return {RequestStatus::Complete, head};
}

// No header may hold a NUL (RFC 9110, 5.5), and one can keep the blank line
// that ends the block from ever being seen: refused as soon as it arrives.
RequestScan scanBuiltIn(const QByteArray &collected, const GetMatch &get)
{
    const qsizetype headersEnd = headerBlockEnd(collected);
    if (collected.left(headersEnd < 0 ? collected.size() : headersEnd).contains('\0'))
        return {RequestStatus::NulByte, {}};
    if (headersEnd < 0)
        return {collected.size() > MaxRequestBytes ? RequestStatus::HeadersTooLarge : RequestStatus::Incomplete, {}};
    if (headersEnd > MaxRequestBytes)
        return {RequestStatus::HeadersTooLarge, {}};
    HttpRequest head = builtInRequestOf(collected, get, headersEnd, headersEnd);
    // Framing that two readers could take two ways is how requests are
    // smuggled past a proxy: refused, not guessed.
    if (head.headerCount("Transfer-Encoding") > 0)
        return {RequestStatus::TransferEncoding, {}};
    const QByteArrayList lengths = head.headerValues("Content-Length");
    if (std::any_of(lengths.begin(), lengths.end(), [&](const QByteArray &l) { return l != lengths.first(); }))
        return {RequestStatus::TwoLengths, {}};
    const QByteArray length = head.header("Content-Length");
    if (length.isNull()) {
        if (head.method == "POST" || head.method == "PUT")
            return {RequestStatus::LengthRequired, {}};
        return {RequestStatus::Complete, head};
    }
    bool ok = false;
    const qlonglong bytes = length.toLongLong(&ok);
    if (!ok || bytes < 0 || !isDecimal(length))
        return {RequestStatus::BadLength, {}};
    if (bytes > MaxBodyBytes)
        return {RequestStatus::BodyTooLarge, {}};
    if (collected.size() < headersEnd + bytes)
        return {RequestStatus::Incomplete, {}, true};
    return complete(collected, get, std::move(head), headersEnd, bytes);
}

}  // namespace

bool isBuiltInPath(const QByteArray &rawPath)
{
    return rawPath == BuiltInPrefix || rawPath.startsWith(BuiltInPrefix + '/');
}

RequestScan scanRequest(const QByteArray &collected)
{
    const GetMatch get = matchGetPattern(collected);
    const qsizetype end = classicEnd(collected, get.end);
    if (end > MaxRequestBytes || (end < 0 && collected.size() > MaxRequestBytes))
        return {RequestStatus::TooLong, {}};
    if (end < 0)
        return {RequestStatus::Incomplete, {}};
    if (isBuiltInPath(withoutQuery(targetOf(collected.left(end)))))
        return scanBuiltIn(collected, get);
    return {RequestStatus::Complete, requestOf(collected.left(end), get)};
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    for (const auto &h : headers) {
        if (h.first.toLower() == wanted)
            return h.second;
    }
    return {};
}

QByteArrayList HttpRequest::headerValues(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    QByteArrayList values;
    for (const auto &h : headers) {
        if (h.first.toLower() == wanted)
            values << h.second;
    }
    return values;
}

int HttpRequest::headerCount(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    return int(std::count_if(headers.begin(), headers.end(), [&](const auto &h) { return h.first.toLower() == wanted; }));
}
