// SPDX-License-Identifier: GPL-3.0-or-later
// A hall full of phones on the running program: K page clients, each on a
// loopback address of its own, each keeping the live page's events stream
// open and opening it again 3 s after it ends, as a browser does, while the
// clock runs at 8:1. Prints for each model minute how many phones heard it
// and how long it took to reach them (each phone's arrival after the first
// one's: p50, p99 and the last), the time broadcast's gaps on the kernel's
// arrival stamps, the streams opened and those the program ended, and the
// program's memory and descriptors.
//
//   crowd_load K SECONDS PID PORT   (the control password in
//                                    QUORANDEL_PASSWORD; inside a private
//                                    network namespace)
//
// One thread on epoll. Each arrival is the kernel's stamp of the segment
// (SO_TIMESTAMPNS on TCP): on loopback the moment the program sent it, so the
// spread is the program's own and not this reader's pass over thousands of
// sockets.

#include "BenchTools.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int Speed = 8;
constexpr double ReopenMs = 3000;   // a browser's EventSource waits about this long
constexpr size_t OpeningAtOnce = 64;  // within the listener's backlog
constexpr double SetUpMs = 60000;

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);  // the kernel's datagram stamps are on this clock too
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// 127.1.0.1, 127.1.0.2, ...: 250 phones to each third byte.
in_addr_t phoneAddress(int i)
{
    return htonl(0x7F010000u + (unsigned(i / 250) << 8) + unsigned(i % 250 + 1));
}

int connectFrom(in_addr_t from, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = from;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<unsigned short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own) != 0
        || (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request on its own connection, waited for: only for setting up.
std::string ask(int port, const std::string &request)
{
    const int fd = connectFrom(htonl(INADDR_LOOPBACK), port);
    fcntl(fd, F_SETFL, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string answer;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, size_t(n));
    }
    close(fd);
    return answer;
}

long descriptorsOf(long pid)
{
    DIR *folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    long count = 0;
    while (folder && readdir(folder))
        ++count;
    if (folder)
        closedir(folder);
    return count > 2 ? count - 2 : 0;  // "." and ".."
}

struct Phone
{
    int fd = -1;
    bool streaming = false;  // its head has come
    double reopenAt = 0;     // when closed: when it opens again
    std::string pending;     // what has come and is not yet a whole line
    std::string minute;      // the model minute it last heard
};

struct Minute
{
    std::vector<double> arrivals;
    double broadcastAt = 0;  // the first time datagram with this minute, the kernel's stamp
};

class CrowdLoad
{
public:
    CrowdLoad(int phones, int port, long pid)
        : m_phones(size_t(phones)), m_port(port), m_pid(pid)
    {
    }
    int run(double seconds);

private:
    bool startClock();
    void open(size_t i);
    void closed(size_t i, bool byProgram);
    void read(size_t i);
    void line(size_t i, const std::string &text, double at);
    void readBroadcast();
    void serviceUntil(double deadline);
    void report(double seconds) const;

    std::vector<Phone> m_phones;
    const int m_port;
    const long m_pid;
    int m_epoll = epoll_create1(0);
    int m_udp = -1;
    size_t m_opening = 0;
    bool m_loading = false;
    long m_opened = 0;
    long m_endedByProgram = 0;
    std::map<std::string, Minute> m_minutes;
    std::string m_broadcastMinute;
    double m_lastDatagram = 0;
    std::vector<double> m_gaps;
    std::vector<std::pair<double, double>> m_longGaps;  // when, how long
    long m_kibBefore = 0, m_kibOpen = 0, m_kibEnd = 0, m_fdsOpen = 0, m_fdsEnd = 0;
};

bool CrowdLoad::startClock()
{
    const char *password = getenv("QUORANDEL_PASSWORD");
    for (const std::string &body : {"action=set&speed=" + std::to_string(Speed), std::string("action=start")}) {
        const std::string answer = ask(m_port, "POST /quorandel/control HTTP/1.0\r\nAuthorization: Bearer "
                                                   + std::string(password ? password : "") + "\r\nContent-Length: "
                                                   + std::to_string(body.size()) + "\r\n\r\n" + body);
        if (answer.rfind("HTTP/1.0 2", 0) != 0) {
            std::fprintf(stderr, "crowd_load: %s refused: %s\n", body.c_str(), answer.substr(0, 60).c_str());
            return false;
        }
    }
    return true;
}

void CrowdLoad::open(size_t i)
{
    Phone &phone = m_phones[i];
    phone = Phone{-1, false, 0, {}, phone.minute};  // a minute heard before it reopened is not heard again
    phone.fd = connectFrom(phoneAddress(int(i)), m_port);
    if (phone.fd < 0) {
        phone.reopenAt = nowMs() + ReopenMs;
        return;
    }
    const int on = 1;
    setsockopt(phone.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ++m_opened;
    ++m_opening;
    epoll_event interest{EPOLLIN | EPOLLOUT | EPOLLRDHUP, {}};
    interest.data.u64 = i;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, phone.fd, &interest);
}

void CrowdLoad::closed(size_t i, bool byProgram)
{
    Phone &phone = m_phones[i];
    if (!phone.streaming)
        --m_opening;
    if (byProgram && m_loading)
        ++m_endedByProgram;
    close(phone.fd);
    phone.fd = -1;
    phone.reopenAt = nowMs() + ReopenMs;
}

void CrowdLoad::read(size_t i)
{
    Phone &phone = m_phones[i];
    char buffer[8192];
    ssize_t n;
    double at = 0;
    while ((n = receiveStamped(phone.fd, buffer, sizeof buffer, &at)) > 0) {
        phone.pending.append(buffer, size_t(n));
        for (size_t end; (end = phone.pending.find('\n')) != std::string::npos;) {
            line(i, phone.pending.substr(0, end), at);
            phone.pending.erase(0, end + 1);
        }
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        closed(i, true);
}

void CrowdLoad::line(size_t i, const std::string &text, double at)
{
    Phone &phone = m_phones[i];
    if (!phone.streaming && text.rfind("HTTP/1.0 200", 0) == 0) {
        phone.streaming = true;
        --m_opening;
    }
    const size_t time = text.find("\"time\":\"");
    if (text.rfind("data: ", 0) != 0 || time == std::string::npos)
        return;
    const std::string minute = text.substr(time + 8, 5);
    if (minute == phone.minute)
        return;
    phone.minute = minute;
    if (m_loading)
        m_minutes[minute].arrivals.push_back(at);
}

void CrowdLoad::readBroadcast()
{
    char buffer[64];
    double at = 0;
    for (ssize_t n; (n = receiveStamped(m_udp, buffer, sizeof buffer, &at)) >= 0;) {
        if (m_loading && m_lastDatagram > 0)
            m_gaps.push_back(at - m_lastDatagram);
        if (m_loading && m_lastDatagram > 0 && at - m_lastDatagram > 50)
            m_longGaps.push_back({m_lastDatagram, at - m_lastDatagram});
        m_lastDatagram = at;
        const std::string hhmm(buffer, size_t(std::min<ssize_t>(n, 4)));
        if (n != 4 || hhmm == m_broadcastMinute)
            continue;
        m_broadcastMinute = hhmm;
        const std::string minute = hhmm.substr(0, 2) + ':' + hhmm.substr(2);
        if (m_loading && m_minutes[minute].broadcastAt == 0)
            m_minutes[minute].broadcastAt = at;
    }
}

void CrowdLoad::serviceUntil(double deadline)
{
    std::vector<epoll_event> ready(1024);
    while (nowMs() < deadline) {
        const double now = nowMs();
        for (size_t i = 0; i < m_phones.size() && m_opening < OpeningAtOnce; ++i) {
            if (m_phones[i].fd < 0 && m_phones[i].reopenAt <= now)
                open(i);
        }
        const int n = epoll_wait(m_epoll, ready.data(), int(ready.size()), 5);
        for (int k = 0; k < n; ++k) {
            if (ready[size_t(k)].data.u64 == UINT64_MAX) {
                readBroadcast();
                continue;
            }
            const size_t i = ready[size_t(k)].data.u64;
            Phone &phone = m_phones[i];
            if (phone.fd < 0)
                continue;
            if (ready[size_t(k)].events & EPOLLOUT) {
                static const std::string request = "GET /quorandel/events HTTP/1.1\r\nAccept: text/event-stream\r\n\r\n";
                epoll_event interest{EPOLLIN | EPOLLRDHUP, {}};
                interest.data.u64 = i;
                epoll_ctl(m_epoll, EPOLL_CTL_MOD, phone.fd, &interest);
                if (send(phone.fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
                    closed(i, false);
                    continue;
                }
            }
            read(i);
        }
    }
}

int CrowdLoad::run(double seconds)
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    m_udp = boundUdp(7791, SOCK_NONBLOCK);
    const int on = 1;
    setsockopt(m_udp, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    epoll_event interest{EPOLLIN, {}};
    interest.data.u64 = UINT64_MAX;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_udp, &interest);
    m_kibBefore = residentKiB(std::to_string(m_pid));
    if (!startClock())
        return 1;
    const double setUpStart = nowMs();
    while (nowMs() - setUpStart < SetUpMs
           && !std::all_of(m_phones.begin(), m_phones.end(), [](const Phone &p) { return p.streaming; }))
        serviceUntil(nowMs() + 100);
    std::printf("phones streaming after %.1f s of set-up: %ld of %zu\n", (nowMs() - setUpStart) / 1000,
                long(std::count_if(m_phones.begin(), m_phones.end(), [](const Phone &p) { return p.streaming; })),
                m_phones.size());
    m_kibOpen = residentKiB(std::to_string(m_pid));
    m_fdsOpen = descriptorsOf(m_pid);
    m_opened = 0;
    m_loading = true;
    serviceUntil(nowMs() + seconds * 1000);
    m_loading = false;
    m_kibEnd = residentKiB(std::to_string(m_pid));
    m_fdsEnd = descriptorsOf(m_pid);
    report(seconds);
    return 0;
}

// The first and last minutes are cut by the load's start and end.
void CrowdLoad::report(double seconds) const
{
    std::vector<double> all, lastDelays;
    int whole = 0, heardByAll = 0;
    std::printf("model minute: phones that heard it, each phone after the first p50 / p99 / last, "
                "the last against the broadcast's first datagram of the minute\n");
    for (auto minute = m_minutes.begin(); minute != m_minutes.end(); ++minute) {
        if (minute == m_minutes.begin() || std::next(minute) == m_minutes.end())
            continue;
        std::vector<double> after;
        const double first = *std::min_element(minute->second.arrivals.begin(), minute->second.arrivals.end());
        const double last = *std::max_element(minute->second.arrivals.begin(), minute->second.arrivals.end());
        for (double at : minute->second.arrivals)
            after.push_back(at - first);
        all.insert(all.end(), after.begin(), after.end());
        lastDelays.push_back(after.empty() ? 0 : last - first);
        ++whole;
        heardByAll += minute->second.arrivals.size() == m_phones.size();
        std::printf("  %s: %zu of %zu, %.1f / %.1f / %.1f ms, %.1f ms\n", minute->first.c_str(),
                    minute->second.arrivals.size(), m_phones.size(), percentile(after, 0.5), percentile(after, 0.99),
                    last - first, minute->second.broadcastAt > 0 ? last - minute->second.broadcastAt : -1.0);
    }
    std::printf("minutes heard by every phone: %d of %d (%zu seen)\n", heardByAll, whole, m_minutes.size());
    std::printf("fan-out, every phone of every minute after its first: p50 %.1f ms, p99 %.1f ms; "
                "first to last p50 %.1f ms, max %.1f ms\n",
                percentile(all, 0.5), percentile(all, 0.99), percentile(lastDelays, 0.5), percentile(lastDelays, 1));
    std::printf("streams opened in %.0f s: %ld; ended by the program: %ld\n", seconds, m_opened, m_endedByProgram);
    std::printf("broadcast gaps: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu gaps)\n", percentile(m_gaps, 0.5),
                percentile(m_gaps, 0.99), percentile(m_gaps, 1), m_gaps.size());
    for (const auto &[at, gap] : m_longGaps) {
        std::string minute = "?";
        double after = 1e9;
        for (const auto &[name, m] : m_minutes) {
            if (!m.arrivals.empty() && std::abs(at - m.arrivals.front()) < std::abs(after))
                minute = name, after = at - m.arrivals.front();
        }
        std::printf("  a gap of %.1f ms, %.1f ms after minute %s reached its first phone\n", gap, after, minute.c_str());
    }
    std::printf("program: RSS %.1f MB before the phones, %.1f MB with them open, %.1f MB at the end; "
                "descriptors %ld open, %ld at the end\n",
                m_kibBefore / 1024.0, m_kibOpen / 1024.0, m_kibEnd / 1024.0, m_fdsOpen, m_fdsEnd);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: crowd_load K SECONDS PID PORT\n");
        return 2;
    }
    return CrowdLoad(atoi(argv[1]), atoi(argv[4]), atol(argv[3])).run(atof(argv[2]));
}
