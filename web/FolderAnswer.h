// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FolderReader.h"
#include "web/IndexFile.h"
#include "web/ListingBuilder.h"
#include "web/WebAnswer.h"
#include "web/WebRootAnswers.h"

#include <QObject>
#include <QTimer>

// The answer to a request for a folder of the web root: its index file, when
// one is found by name, at once; otherwise the folder is read and its listing
// written in bounded steps, each on its own turn of the event loop, so that a
// folder of many thousand entries never holds up the broadcast or the other
// connections. The same reading settles index file names that a lookup by
// name could not (patterns), and the answer is then that file after all.
class FolderAnswer : public QObject
{
    Q_OBJECT
public:
    // Names looked at, and entries written, per turn: a turn then takes a
    // few milliseconds at most, four listings at once included, which the
    // broadcast's 10 ms ticks can stand.
    static constexpr int ReadStep = 32;
    static constexpr int WriteStep = 128;

    static WebAnswer answer(const HttpRequest &request, const QByteArray &localPath, const WebRoot &root);

private:
    FolderAnswer(const HttpRequest &request, const QByteArray &localPath, const WebRoot &root,
                 const QByteArrayList &pending, QObject *context, WebAnswer::Wanted wanted,
                 WebAnswer::Ready ready);
    void step();
    void finish(const WebAnswer &answer);

    QByteArray m_requestPath;
    QByteArray m_localPath;
    QByteArray m_versionCaption;
    FolderReader m_reader;
    IndexCandidates m_candidates;
    ListingBuilder m_listing;
    WebAnswer::Wanted m_wanted;
    WebAnswer::Ready m_ready;
    QTimer m_turn;
};
