// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/FPortula.h"
#include "app/frmSetSpeed.h"
#include "app/frmSetTime.h"
#include "platform/Paths.h"

#include <QAction>
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

// What the socket and window tests share.

// The cap on every wait for a socket, a transfer or a window. Far longer than
// any of them takes, so that a busy machine does not fail a test; a wait only
// runs this long when something is wrong.
constexpr int kWait = 20000;

// Not a repeating 256-byte cycle, so that a chunk sent twice or out of order
// shows; `seed` tells apart files of the same size.
inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + seed + i / 253) & 0xFF);
    return data;
}

// A file's bytes; empty when it cannot be read.
inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the event loop until done() holds or kWait has passed, and says which.
// Not QTest::qWaitFor, whose 10 ms naps would slow a send pump to one chunk
// per nap.
template <typename Done> bool spinUntil(Done done)
{
    const QDeadlineTimer deadline(kWait);
    QTimer wake;  // so that the deadline is seen even when nothing happens
    for (wake.start(50); !done() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// One request over its own connection to the web server on loopback; the
// answer as it came, up to the close.
inline QByteArray exchange(const QByteArray &request, quint16 port = 8080)
{
    QTcpSocket socket;
    QByteArray got;
    QObject::connect(&socket, &QIODevice::readyRead, [&] { got += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!spinUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }))
        return "(not connected)";
    socket.write(request);
    spinUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    return got + socket.readAll();
}

// What a person does at the window: a speed chosen in the Set Quorandel
// dialog; from that open dialog, OK, a time typed and Set.
inline void chooseSpeed(FPortula &w, int speed)
{
    w.nFast->trigger();
    w.setSpeedWindow()->Speed(speed)->click();
}
inline void setTimeByDialog(FPortula &w, const QString &hour, const QString &minute)
{
    w.setSpeedWindow()->btnDone->click();
    w.setTimeWindow()->txtHour->setText(hour);
    w.setTimeWindow()->txtMinute->setText(minute);
    w.setTimeWindow()->btnSet->click();
}

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
