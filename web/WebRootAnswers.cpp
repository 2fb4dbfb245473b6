// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebRootAnswers.h"

#include "platform/FileSystem.h"
#include "web/FolderAnswer.h"
#include "web/HttpText.h"

#include <algorithm>

namespace {

// Hidden names are never served, not even as a folder on the way to a file.
bool hasHiddenSegment(const QByteArray &decodedPath)
{
    const QList<QByteArray> segments = decodedPath.split('/');
    return std::any_of(segments.cbegin(), segments.cend(), FileSystem::isHiddenName);
}

}  // namespace

WebAnswer answerFromWebRoot(const HttpRequest &request, const WebRoot &root)
{
    if (!request.matchesGet)
        return WebAnswer::status(notImplementedResponse(root.versionCaption));
    const QByteArray notFound = notFoundResponse(root.versionCaption);
    if (!passesPathTests(request.rawPath))
        return WebAnswer::status(notFound);
    // Without its leading "/" nothing is served for it, but it is logged like
    // any other missing path.
    if (!request.rawPath.startsWith('/'))
        return WebAnswer::status(notFound, root.folder + request.decodedPath);
    const std::optional<QByteArray> mapped = localPathFor(root.folder, request.decodedPath);
    if (!mapped)
        return WebAnswer::status(notFound);
    if (!FileSystem::exists(*mapped) || hasHiddenSegment(request.decodedPath))
        return WebAnswer::status(notFound, *mapped);
    if (FileSystem::isFolder(*mapped))
        return FolderAnswer::answer(request, *mapped, root);
    return WebAnswer::file(*mapped, request.rawPath);
}
