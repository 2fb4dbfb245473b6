// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "web/HttpRequest.h"
#include "web/WebAnswer.h"

#include <QLocale>

// Where file requests are answered from.
struct WebRoot
{
    QByteArray folder;     // the operator's web root, as bytes; never decoded
    QByteArray indexHTML;  // the ";"-separated index file names
    QByteArray versionCaption;
    QLocale locale = QLocale::system();
};

// The answer to a file request from the web root: the file, a folder's index
// file or its listing, 404 for what is not there (or hidden, or outside the
// root), 501 for what is not a GET; a listing comes Later, made in steps.
// Everything a request reaches is logged with its local path; a path that
// would leave the root is not.
WebAnswer answerFromWebRoot(const HttpRequest &request, const WebRoot &root);
