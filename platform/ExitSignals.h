// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the event loop, so the
// program ends through its orderly shutdown when a session ends or a service
// manager stops it. The handler itself only writes one byte to a pipe.
class ExitSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handler before anything else runs: a signal that comes
    // during start-up waits in the pipe and is told once the event loop runs,
    // instead of ending the program without its orderly end.
    static void catchNow();

    // Tells the signals caught (since catchNow(), or from now on).
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();
    QSocketNotifier *m_notifier = nullptr;
};
