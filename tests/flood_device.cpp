// SPDX-License-Identifier: GPL-3.0-or-later
// A display device gone wrong: listens on the display address, and sends to
// whoever connects as fast as the connection takes it, for the given number of
// seconds.   flood_device ADDRESS PORT SECONDS
// Prints "listening" once it accepts connections, and the bytes it sent at the end.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::atoi(argv[2]));
    if (::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1
        || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0)
        return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
    const std::vector<char> block(64 * 1024, 'x');
    std::vector<int> peers;
    long long sent = 0;
    while (std::chrono::steady_clock::now() < end) {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 0) > 0)
            peers.push_back(::accept(listener, nullptr, nullptr));
        // Waits for room only as long as it must: a peer that reads gets
        // everything at once, one that does not is asked again shortly.
        std::vector<pollfd> writable;
        for (int peer : peers)
            writable.push_back({peer, POLLOUT, 0});
        if (::poll(writable.data(), writable.size(), 10) <= 0 && peers.empty())
            ::usleep(1000);
        for (const pollfd &p : writable) {
            const ssize_t n = (p.revents & POLLOUT) ? ::send(p.fd, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL) : 0;
            if (n > 0)
                sent += n;
        }
    }
    std::printf("sent %lld\n", sent);
    return 0;
}
