// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmark programs share: plain system calls, so that a program
// without Qt can use them too.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// One datagram without waiting, its length (negative when none is waiting)
// and the kernel's stamp of its arrival in ms, on a socket with SO_TIMESTAMPNS
// set. On loopback the arrival is the moment the program sent it.
inline ssize_t receiveStamped(int fd, char *buffer, size_t size, double *arrivalMs)
{
    char control[CMSG_SPACE(sizeof(timespec))];
    iovec data{buffer, size};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
    if (n < 0)
        return n;
    timespec stamp{};
    clock_gettime(CLOCK_REALTIME, &stamp);
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    }
    *arrivalMs = double(stamp.tv_sec) * 1e3 + double(stamp.tv_nsec) / 1e6;
    return n;
}
