// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmark programs share: plain system calls, so that a program
// without Qt can use them too.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// A UDP socket on a port of all addresses, sharing it with other listeners,
// with a receive buffer large enough for a burst of a thousand datagrams.
inline int boundUdp(int port, int flags = 0)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | flags, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int buffer = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

// Resident memory in KiB of a process ("self" for this one); 0 when unknown.
inline long residentKiB(const std::string &pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    long kib = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> kib)
            return kib;
        status.ignore(1 << 20, '\n');
    }
    return 0;
}
