// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/HttpText.h"

#include "platform/HexDigit.h"

#include <algorithm>

namespace {

const QByteArray RequestStart = "GET ";
const QByteArray VersionMark = " HTTP/1.";

qsizetype findIn(const QByteArray &haystack, const QByteArray &needle, qsizetype from, Compare compare)
{
    if (compare == Compare::Exact)
        return haystack.indexOf(needle, from);
    // toLower() folds ASCII only, so positions stay byte positions.
    return haystack.toLower().indexOf(needle.toLower(), from);
}

QByteArray statusResponse(const QByteArray &statusLine, const QByteArray &versionCaption)
{
    return statusLine + "\nServer: " + versionCaption + "\n\n";
}

}  // namespace

QByteArray LeftRight(const QByteArray &str, const QByteArray &find, Compare compare, OnMissing onMissing)
{
    const qsizetype at = findIn(str, find, 0, compare);
    if (at < 0)
        return onMissing == OnMissing::Empty ? QByteArray() : str;
    return str.mid(at + find.size());
}

GetMatch matchGetPattern(const QByteArray &data)
{
    if (!data.startsWith(RequestStart))
        return {};
    const qsizetype mark = data.indexOf(VersionMark, RequestStart.size());
    // The "?" needs one byte after the mark; the trailing "*" takes the rest.
    if (mark < 0 || mark + VersionMark.size() >= data.size())
        return {};
    return {mark + VersionMark.size() + 1, data.mid(RequestStart.size(), mark - RequestStart.size())};
}

bool passesPathTests(const QByteArray &requestPath)
{
    return !requestPath.isEmpty() && !requestPath.contains("/./") && !requestPath.contains("/../")
        && !requestPath.contains('*') && !requestPath.contains('?');
}

QByteArray percentDecoded(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? hexDigitValue(text[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexDigitValue(text[i + 2]);
        if (low < 0) {
            out.append(text[i]);
            continue;
        }
        out.append(char(high * 16 + low));
        i += 2;
    }
    return out;
}

bool isConfinedPath(const QByteArray &decodedPath)
{
    if (decodedPath.contains('\0') || decodedPath.contains('*'))
        return false;
    QByteArray segment;
    for (qsizetype i = 0; i <= decodedPath.size(); ++i) {
        const bool atEnd = i == decodedPath.size() || decodedPath[i] == '/' || decodedPath[i] == '\\';
        if (!atEnd) {
            segment.append(decodedPath[i]);
            continue;
        }
        if (segment == "." || segment == "..")
            return false;
        segment.clear();
    }
    return true;
}

QByteArray collapsedSlashes(const QByteArray &path)
{
    return QByteArray(path).replace("//", "/");
}

std::optional<QByteArray> localPathFor(const QByteArray &webRoot, const QByteArray &decodedPath)
{
    // Without a leading "/" the path would run on from the root's last name
    // ("/srv/www" + "x" is the sibling "/srv/wwwx").
    if (!decodedPath.startsWith('/') || !isConfinedPath(decodedPath))
        return std::nullopt;
    return collapsedSlashes(webRoot + decodedPath);
}

QByteArray contentTypeLine(const QByteArray &requestPath)
{
    static const struct { const char *extension; const char *type; } table[] = {
        {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
        {"png", "image/png"},        {"htm", "text/html"},         {"html", "text/html"},
        {"zip", "application/zip"},  {"mp3", "audio/mpeg"},        {"m3u", "audio/x-mpegurl"},
        {"pls", "audio/x-mpegurl"},  {"xpl", "audio/x-mpegurl"},
    };
    const QByteArray extension = LeftRight(requestPath, ".", Compare::Exact, OnMissing::Empty).toLower();
    for (const auto &row : table) {
        if (extension == row.extension)
            return QByteArray("Content-Type: ") + row.type;
    }
    return "Content-Type: */*";
}

QByteArray okHeader(const QByteArray &typeLine, qint64 contentLength, const QByteArray &versionCaption)
{
    return "HTTP/1.0 200 OK\nServer: " + versionCaption + '\n' + typeLine + "\nContent-Length: "
        + QByteArray::number(contentLength) + "\n\n";
}

QByteArray notFoundResponse(const QByteArray &versionCaption)
{
    return statusResponse("HTTP/1.0 404 Not Found", versionCaption);
}

QByteArray notImplementedResponse(const QByteArray &versionCaption)
{
    return statusResponse("HTTP/1.0 501 Not Implemented", versionCaption);
}

QByteArray serviceUnavailableResponse(const QByteArray &versionCaption)
{
    return statusResponse("HTTP/1.0 503 Service Unavailable", versionCaption);
}

QByteArray responseHead(const QByteArray &status, const QByteArray &versionCaption, const QByteArrayList &lines)
{
    QByteArray head = "HTTP/1.0 " + status + "\nServer: " + versionCaption + '\n';
    for (const QByteArray &line : lines)
        head += line + '\n';
    return head + '\n';
}

QByteArray textResponse(const QByteArray &status, const QByteArray &versionCaption, const QByteArray &text,
                        const QByteArrayList &lines)
{
    const QByteArray body = text + '\n';
    return responseHead(status, versionCaption,
                        lines + QByteArrayList{"Content-Type: text/plain; charset=utf-8",
                                               "Content-Length: " + QByteArray::number(body.size())})
        + body;
}
