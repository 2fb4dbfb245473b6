// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/HttpRequest.h"

#include "web/HttpText.h"

#include <algorithm>

namespace {

// Where a file request ends: after the match or after the first LF, whichever
// is sooner; -1 while neither has arrived.
qsizetype classicEnd(const QByteArray &data)
{
    const qsizetype lineEnd = data.indexOf('\n');
    const qsizetype matchEnd = requestPatternEnd(data);
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

// End of the header block (after its empty line), -1 while it has not come.
qsizetype headerBlockEnd(const QByteArray &data)
{
    const qsizetype crlf = data.indexOf("\r\n\r\n");
    const qsizetype lf = data.indexOf("\n\n");
    if (crlf < 0)
        return lf < 0 ? -1 : lf + 2;
    return lf < 0 ? crlf + 4 : std::min(crlf + 4, lf + 2);
}

// No header may hold a NUL (RFC 9110, 5.5), and one can keep the blank line
// that ends the block from ever being seen: refused as soon as it arrives.
RequestScan scanBuiltIn(const QByteArray &collected)
{
    const qsizetype headersEnd = headerBlockEnd(collected);
    if (collected.left(headersEnd < 0 ? collected.size() : headersEnd).contains('\0'))
        return {RequestStatus::NulByte, {}};
    if (headersEnd < 0)
        return {collected.size() > MaxRequestBytes ? RequestStatus::HeadersTooLarge : RequestStatus::Incomplete, {}};
    if (headersEnd > MaxRequestBytes)
        return {RequestStatus::HeadersTooLarge, {}};
    const HttpRequest head = parseRequest(collected.left(headersEnd));
    const QByteArray length = head.header("Content-Length");
    if (length.isNull())
        return head.method == "POST" || head.method == "PUT" ? RequestScan{RequestStatus::LengthRequired, {}}
                                                             : RequestScan{RequestStatus::Complete, collected.left(headersEnd)};
    bool ok = false;
    const qlonglong bytes = length.toLongLong(&ok);
    if (!ok || bytes < 0 || !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {RequestStatus::BadLength, {}};
    if (bytes > MaxBodyBytes)
        return {RequestStatus::BodyTooLarge, {}};
    if (collected.size() < headersEnd + bytes)
        return {RequestStatus::Incomplete, {}};
    return {RequestStatus::Complete, collected.left(headersEnd + bytes)};
}

}  // namespace

bool isBuiltInPath(const QByteArray &rawPath)
{
    return rawPath == BuiltInPrefix || rawPath.startsWith(BuiltInPrefix + '/');
}

RequestScan scanRequest(const QByteArray &collected)
{
    const qsizetype end = classicEnd(collected);
    if (end > MaxRequestBytes || (end < 0 && collected.size() > MaxRequestBytes))
        return {RequestStatus::TooLong, {}};
    if (end < 0)
        return {RequestStatus::Incomplete, {}};
    const QByteArray target = targetOf(collected.left(end));
    const qsizetype query = target.indexOf('?');
    if (isBuiltInPath(query < 0 ? target : target.left(query)))
        return scanBuiltIn(collected);
    return {RequestStatus::Complete, collected.left(end)};
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

int HttpRequest::headerCount(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    return int(std::count_if(headers.begin(), headers.end(), [&](const auto &h) { return h.first.toLower() == wanted; }));
}

HttpRequest parseRequest(const QByteArray &text)
{
    HttpRequest r;
    r.text = text;
    const qsizetype lineEnd = text.indexOf('\n');
    const QByteArray line = firstLine(text);
    r.method = line.left(line.indexOf(' '));
    const QByteArray target = matchesRequestPattern(text) ? requestTargetOf(text) : targetOf(text);
    const qsizetype query = target.indexOf('?');
    r.rawPath = query < 0 ? target : target.left(query);
    r.query = query < 0 ? QByteArray() : target.mid(query + 1);
    r.decodedPath = percentDecoded(r.rawPath);
    const qsizetype mark = line.lastIndexOf(" HTTP/");
    r.version = mark < 0 ? QByteArray() : line.mid(mark + 6);
    r.builtIn = isBuiltInPath(r.rawPath);
    if (!r.builtIn || lineEnd < 0)
        return r;
    const qsizetype headersEnd = headerBlockEnd(text);
    const QList<QByteArray> lines = text.mid(lineEnd + 1, headersEnd < 0 ? -1 : headersEnd - lineEnd - 1).split('\n');
    for (const QByteArray &h : lines) {
        const qsizetype colon = h.indexOf(':');
        if (colon > 0)
            r.headers.append({h.left(colon).trimmed(), h.mid(colon + 1).trimmed()});
    }
    r.body = headersEnd < 0 ? QByteArray() : text.mid(headersEnd);
    return r;
}
