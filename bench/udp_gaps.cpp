// SPDX-License-Identifier: GPL-3.0-or-later
// Listens on the broadcast ports 7791 (time) and 7792 (rate) and, once the
// first time datagram has arrived, counts datagrams for the given number of
// seconds: datagrams per second on each port and the gaps between consecutive
// time datagrams (p50, p99, max).
//
// The gaps are taken from the kernel's arrival stamps (SO_TIMESTAMPNS): on
// loopback that is the moment the program sent the datagram, which is what a
// slave clock on the wire sees. On a busy two-core machine this receiver is
// not always running when a datagram arrives, so the gaps between its reads,
// printed beside them, also hold its own waits for the processor.
//
//   udp_gaps SECONDS

#include "BenchTools.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;


double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

void printGaps(const char *name, const std::vector<double> &gaps)
{
    std::printf("%s: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu gaps)\n", name, percentile(gaps, 0.5),
                percentile(gaps, 0.99), percentile(gaps, 1.0), gaps.size());
}

}  // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? atof(argv[1]) : 10;
    pollfd fds[2] = {{boundUdp(7791), POLLIN, 0}, {boundUdp(7792), POLLIN, 0}};
    const int on = 1;
    setsockopt(fds[0].fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    long counts[2] = {0, 0};
    std::vector<double> gaps, readGaps;
    Clock::time_point first{}, lastRead{};
    double lastArrival = 0;
    bool started = false;
    char buffer[64];
    while (!started || Clock::now() - first < std::chrono::duration<double>(seconds)) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        double arrival = 0;
        while (receiveStamped(fds[0].fd, buffer, sizeof buffer, &arrival) >= 0) {
            const auto now = Clock::now();
            if (started) {
                gaps.push_back(arrival - lastArrival);
                readGaps.push_back(std::chrono::duration<double, std::milli>(now - lastRead).count());
                ++counts[0];
            } else {
                started = true;
                first = now;
                ++counts[0];
            }
            lastArrival = arrival;
            lastRead = now;
        }
        while (recv(fds[1].fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
            counts[1] += started;
    }
    std::printf("time datagrams/s: %.1f   rate datagrams/s: %.1f\n", counts[0] / seconds, counts[1] / seconds);
    printGaps("gap between time datagrams", gaps);
    printGaps("  the same, between this receiver's reads", readGaps);
    return 0;
}
