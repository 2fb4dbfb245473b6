// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/FolderAnswer.h"

#include "web/HttpText.h"

namespace {

QByteArray joined(const QByteArray &path, const QByteArray &name)
{
    return path + (path.endsWith('/') ? "" : "/") + name;
}

// Sent at once, without a redirect; the log names the folder asked for.
WebAnswer indexAnswer(const QByteArray &requestPath, const QByteArray &localPath, const QByteArray &name)
{
    WebAnswer index = WebAnswer::file(joined(localPath, name), joined(requestPath, name));
    index.logPath = localPath;
    return index;
}

}  // namespace

WebAnswer FolderAnswer::answer(const HttpRequest &request, const QByteArray &localPath, const WebRoot &root)
{
    const IndexLookup lookup = lookUpIndexFile(localPath, root.indexHTML);
    if (!lookup.found.isEmpty())
        return indexAnswer(request.rawPath, localPath, lookup.found);
    return WebAnswer::deferred([=](QObject *context, WebAnswer::Wanted wanted, WebAnswer::Ready ready) {
        new FolderAnswer(request, localPath, root, lookup.pending, context, std::move(wanted), std::move(ready));
    });
}

FolderAnswer::FolderAnswer(const HttpRequest &request, const QByteArray &localPath, const WebRoot &root,
                           const QByteArrayList &pending, QObject *context, WebAnswer::Wanted wanted,
                           WebAnswer::Ready ready)
    : QObject(context)
    , m_requestPath(request.rawPath)
    , m_localPath(localPath)
    , m_versionCaption(root.versionCaption)
    , m_reader(localPath)
    , m_candidates(pending)
    , m_listing(request.rawPath, root.locale)
    , m_wanted(std::move(wanted))
    , m_ready(std::move(ready))
{
    m_turn.setSingleShot(true);
    m_turn.setInterval(0);
    connect(&m_turn, &QTimer::timeout, this, &FolderAnswer::step);
    m_turn.start();
}

void FolderAnswer::step()
{
    if (!m_wanted()) {
        deleteLater();  // the connection went; so does the work done for it
        return;
    }
    if (!m_reader.atEnd()) {
        const QList<FileSystem::Entry> entries = m_reader.next(ReadStep);
        m_candidates.see(entries);
        m_listing.add(entries);
        return m_turn.start();
    }
    if (const QByteArray name = m_candidates.found(); !name.isEmpty())
        return finish(indexAnswer(m_requestPath, m_localPath, name));
    if (!m_listing.write(WriteStep))
        return m_turn.start();
    const QByteArray &body = m_listing.page();
    finish(WebAnswer::text(okHeader("Content-Type: text/html", body.size(), m_versionCaption), body, m_localPath));
}

void FolderAnswer::finish(const WebAnswer &answer)
{
    m_ready(answer);
    deleteLater();
}
