// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ExitSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    const ssize_t ignored = ::write(g_pipe[0], &byte, 1);
    (void)ignored;
}

}  // namespace

void ExitSignals::catchNow()
{
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

ExitSignals::ExitSignals(QObject *parent)
    : QObject(parent)
{
    catchNow();
    if (g_pipe[1] < 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::readPipe);
}

ExitSignals::~ExitSignals()
{
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
}

void ExitSignals::readPipe()
{
    char byte = 0;
    if (::read(g_pipe[1], &byte, 1) == 1)
        emit received(int(byte));
}
