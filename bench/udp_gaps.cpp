// SPDX-License-Identifier: GPL-3.0-or-later
// Listens on the broadcast ports 7791 (time) and 7792 (rate) and, once the
// first time datagram has arrived, counts datagrams for the given number of
// seconds: datagrams per second on each port and the gaps between consecutive
// time datagrams (p50, p99, max).
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

}  // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? atof(argv[1]) : 10;
    pollfd fds[2] = {{boundUdp(7791), POLLIN, 0}, {boundUdp(7792), POLLIN, 0}};
    long counts[2] = {0, 0};
    std::vector<double> gaps;
    Clock::time_point first{}, last{};
    bool started = false;
    char buffer[64];
    while (!started || Clock::now() - first < std::chrono::duration<double>(seconds)) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            while (recv(fds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
                const auto now = Clock::now();
                if (i == 0 && !started) {
                    started = true;
                    first = last = now;
                } else if (i == 0) {
                    gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
                    last = now;
                }
                counts[i] += started;
            }
        }
    }
    std::printf("time datagrams/s: %.1f   rate datagrams/s: %.1f\n", counts[0] / seconds, counts[1] / seconds);
    std::printf("gap between time datagrams: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu gaps)\n",
                percentile(gaps, 0.5), percentile(gaps, 0.99), percentile(gaps, 1.0), gaps.size());
    return 0;
}
