// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

// What the tests of every layer share: how long they wait, and the plain
// ways to read a file and to ask a web server.

// The cap on every wait for a socket, a transfer or a window. Far longer than
// any of them takes, so that a busy machine does not fail a test; a wait only
// runs this long when something is wrong.
constexpr int kWait = 20000;

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

// A file's bytes; "(not a file)" for anything else, which is never opened (a
// FIFO would block until a writer came).
inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : "(not a file)";
}

// One request over its own connection to a web server on loopback; the
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
