// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Waits.h"

#include "app/FPortula.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The main window run in a scratch folder of its own: a settings file made
// afresh, no logging switches, its own export folder. A window it starts
// records its messages and its end here, rather than showing a box that waits
// for a person or ending the test program.
class ScratchRun
{
public:
    ScratchRun()
        : m_paths{m_dir.filePath("QuorandelDB.mdb"), {}, m_dir.filePath("export"), m_dir.path(),
                  m_dir.filePath("quorandel.conf")}
    {
    }

    const AppPaths &paths() const { return m_paths; }
    // Logging switches for the next window, as a registry file's text.
    bool writeRegistry(const QByteArray &text)
    {
        m_paths.registryFile = m_dir.filePath("Quorandel.reg");
        QFile file(m_paths.registryFile);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
    // What the request log of a window started here holds.
    QByteArray requestLog() const { return contentOf(m_dir.filePath("PortulaLog.txt")); }
    // The extension settings the next window reads (none until written).
    bool writeExtensionSettings(const QByteArray &ini)
    {
        QFile file(m_paths.extensionFile);
        return file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size()
            && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    // A window through its start-up sequence; null, with the reason in
    // startError, when that failed.
    std::unique_ptr<FPortula> started()
    {
        auto window = std::make_unique<FPortula>(m_paths);
        window->setMessageSink([this](const QString &text) { messages << text; });
        window->setEndProgram([this](int status) { ends << status; });
        if (!window->Form_Load(&startError))
            return nullptr;
        return window;
    }

    QStringList messages;
    QList<int> ends;  // the exit status of each end
    QString startError;

private:
    QTemporaryDir m_dir;
    AppPaths m_paths;
};
