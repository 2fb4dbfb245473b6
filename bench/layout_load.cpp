// SPDX-License-Identifier: GPL-3.0-or-later
// The load of an operating session on the running program: event-stream
// clients (the phones that keep the live page open) and pollers (browsers that
// ask for state.json and the picture once a second each), while the clock runs
// at 8:1. Listens to the broadcasts meanwhile and prints how late each model
// minute reached each stream, the broadcast's rate and gaps, the model seconds
// the clock made against those the elapsed time asks for, the program's
// memory, and the polls and picture fetches that failed.
//
//   layout_load SECONDS PID PORT   (PID: the running program; the control
//                                   password in QUORANDEL_PASSWORD; inside a
//                                   private network namespace)
//
// One thread, plain sockets and poll(): every arrival is timed the moment it
// is read, and nothing here waits on anything but poll().

#include "BenchTools.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Moment = Clock::time_point;

constexpr int StreamClients = 50;
constexpr int Pollers = 20;
constexpr int Speed = 8;
constexpr int TimePort = 7791;
constexpr int RatePort = 7792;
// A poll or picture that has not come back by then has failed, as a
// browser's own timeout would say.
constexpr auto FetchTimeout = std::chrono::seconds(5);
constexpr auto SetUpTimeout = std::chrono::seconds(10);

double msBetween(Moment from, Moment to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

void printDelays(const char *what, const std::vector<double> &ms)
{
    std::printf("%s: p50 %.1f ms, p99 %.1f ms, max %.1f ms (min %.1f ms)\n", what, percentile(ms, 0.5),
                percentile(ms, 0.99), percentile(ms, 1.0), percentile(ms, 0.0));
}


// A connection under way to the program on the loopback, from the given
// loopback address (each phone has an address of its own, and the program
// holds at most a few streams per address); -1 when not even that could be
// begun.
int connecting(int port, quint32 from = INADDR_LOOPBACK)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(from);
    if (bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own) != 0) {
        close(fd);
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}


// "HH:MM:SS" as seconds of the day; -1 for anything else.
int secondsOf(const QByteArray &time)
{
    const QList<QByteArray> parts = time.split(':');
    if (parts.size() != 3)
        return -1;
    return parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt();
}

// The value of one member of the program's flat JSON, as its text.
QByteArray member(const QByteArray &json, const QByteArray &name)
{
    const QByteArray key = '"' + name + "\":";
    const qsizetype at = json.indexOf(key);
    if (at < 0)
        return {};
    qsizetype end = at + key.size();
    while (end < json.size() && json[end] != ',' && json[end] != '}')
        ++end;
    QByteArray value = json.mid(at + key.size(), end - at - key.size());
    return value.startsWith('"') ? value.mid(1, value.size() - 2) : value;
}

// The server ends its head lines with "\n"; clients may read "\r\n" too.
qsizetype headEnd(const QByteArray &response, qsizetype *bodyAt)
{
    for (const char *blank : {"\n\n", "\r\n\r\n"}) {
        const qsizetype at = response.indexOf(blank);
        if (at >= 0) {
            *bodyAt = at + qsizetype(std::strlen(blank));
            return at;
        }
    }
    return -1;
}

struct Reply
{
    QByteArray error;  // empty: a whole 2xx answer
    QByteArray body;
    Moment sent;
    Moment finished;
};

// What a whole response says; an error unless it is a 2xx with all its body.
Reply replyFrom(const QByteArray &response)
{
    qsizetype bodyAt = 0;
    const qsizetype end = headEnd(response, &bodyAt);
    if (end < 0)
        return {response.isEmpty() ? "closed without an answer" : "answer cut short", {}, {}, {}};
    const QByteArray head = response.left(end);
    const QByteArray status = head.left(head.indexOf('\n')).trimmed();
    Reply reply{{}, response.mid(bodyAt), {}, {}};
    if (!status.startsWith("HTTP/1.0 2"))
        reply.error = status.mid(9);
    for (const QByteArray &line : head.split('\n')) {
        if (line.startsWith("Content-Length:") && line.mid(15).trimmed().toLongLong() != reply.body.size())
            reply.error = "body shorter than its Content-Length";
    }
    return reply;
}

// One request on its own connection: the server answers one per connection.
struct Fetch
{
    int fd = -1;
    QByteArray request;
    qsizetype sent = 0;
    QByteArray response;
    Moment started;
    std::function<void(const Reply &)> done;
};

// One page that keeps the events stream open.
struct Stream
{
    int fd = -1;
    bool headRead = false;
    bool ended = false;
    QByteArray pending;  // what has arrived and is not yet a whole line
    std::vector<std::pair<QByteArray, Moment>> events;  // the event's model time, its arrival
};

// The broadcast reads the model time every 10 ms, so the minute changed
// between the last datagram with the old minute and the first with the new.
struct MinuteChange
{
    QByteArray minute;  // "hh:mm"
    Moment before;
    Moment after;
};

struct Tally
{
    long fetches = 0;
    std::map<QByteArray, long> failures;  // by reason
    std::vector<double> latencies;
};

class LayoutLoad
{
public:
    LayoutLoad(int port, long pid, QByteArray password)
        : m_port(port)
        , m_pid(pid)
        , m_password(std::move(password))
    {
    }

    int run(double seconds);

private:
    enum class Phase { SettingUp, Loading, Draining };

    bool startClock();
    bool openStreams();
    bool load(double seconds);
    bool readState(Reply *reply);
    void runUntil(Moment deadline, const std::function<bool()> &finished);
    void serviceOnce(Moment deadline);
    void launchDuePolls(Moment now);
    void fetch(const QByteArray &request, std::function<void(const Reply &)> done);
    void askFor(const QByteArray &path, Tally &tally, bool (*valid)(const QByteArray &));
    void advance(Fetch &fetch, short revents);
    void finish(Fetch &fetch, Reply reply);
    void readStream(Stream &stream);
    void takeLine(Stream &stream, const QByteArray &line, Moment now);
    void readUdp(int which);
    void noteTime(const QByteArray &hhmm, Moment now, double arrivalMs);
    void report() const;
    void reportMinutes() const;
    void reportBroadcast() const;
    void reportTicks() const;
    void reportTally(const char *what, const Tally &tally) const;
    void reportMemorySamples() const;
    std::vector<Moment> arrivalsOf(const QByteArray &minute) const;
    void reportGridLateness() const;
    double gridOffset(const QByteArray &minute, double minuteMs) const;

    const int m_port;
    const long m_pid;
    const QByteArray m_password;
    Phase m_phase = Phase::SettingUp;
    int m_udp[2] = {-1, -1};
    std::vector<Stream> m_streams;
    std::vector<std::unique_ptr<Fetch>> m_fetches;

    Moment m_loadStart;
    Moment m_loadEnd;
    Moment m_nextPoll;
    Moment m_nextSample;

    long m_datagrams[2] = {0, 0};
    Moment m_lastTime;
    double m_lastArrivalMs = 0;
    std::vector<double> m_gaps;
    QByteArray m_hhmm;
    std::vector<MinuteChange> m_minuteChanges;

    Tally m_states;
    Tally m_pictures;
    Reply m_firstState;
    Reply m_lastState;
    long m_kibBeforeClients = 0;
    long m_kibAtStart = 0;
    long m_kibAtEnd = 0;
    std::vector<long> m_kibSamples;  // once a second during the load
};

bool isState(const QByteArray &body)
{
    return secondsOf(member(body, "time")) >= 0;
}

bool isPicture(const QByteArray &body)
{
    return body.startsWith("\x89PNG\r\n\x1a\n");
}

int LayoutLoad::run(double seconds)
{
    m_udp[0] = boundUdp(TimePort, SOCK_NONBLOCK);
    const int on = 1;
    setsockopt(m_udp[0], SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    m_udp[1] = boundUdp(RatePort, SOCK_NONBLOCK);
    m_kibBeforeClients = residentKiB(std::to_string(m_pid));
    if (!startClock() || !openStreams() || !load(seconds))
        return 1;
    report();
    return 0;
}

// The operator's phone sets 8:1 and starts the clock, as the page's control does.
bool LayoutLoad::startClock()
{
    for (const QByteArray &body : {"action=set&speed=" + QByteArray::number(Speed), QByteArray("action=start")}) {
        bool answered = false;
        QByteArray error;
        fetch("POST /quorandel/control HTTP/1.0\r\nAuthorization: Bearer " + m_password
                  + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body,
              [&](const Reply &reply) {
                  answered = true;
                  error = reply.error;
              });
        runUntil(Clock::now() + SetUpTimeout, [&] { return answered; });
        if (!answered || !error.isEmpty()) {
            std::fprintf(stderr, "layout_load: %s refused: %s\n", body.constData(),
                         answered ? error.constData() : "no answer");
            return false;
        }
    }
    return true;
}

bool LayoutLoad::openStreams()
{
    for (int i = 0; i < StreamClients; ++i) {
        Stream stream;
        stream.fd = connecting(m_port, INADDR_LOOPBACK + 0x100 + quint32(i));  // 127.0.1.i
        const QByteArray request = "GET /quorandel/events HTTP/1.0\r\nAccept: text/event-stream\r\n\r\n";
        // The connection is local: it is up, or refused, by the time this runs.
        if (stream.fd < 0 || send(stream.fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0) {
            std::fprintf(stderr, "layout_load: events stream %d: %s\n", i, std::strerror(errno));
            return false;
        }
        m_streams.push_back(std::move(stream));
    }
    const auto connected = [this] {
        return std::all_of(m_streams.cbegin(), m_streams.cend(), [](const Stream &s) { return !s.events.empty(); });
    };
    runUntil(Clock::now() + SetUpTimeout, connected);
    if (connected())
        return true;
    std::fprintf(stderr, "layout_load: not every events stream has its first event\n");
    return false;
}

bool LayoutLoad::load(double seconds)
{
    if (!readState(&m_firstState))
        return false;
    m_kibAtStart = residentKiB(std::to_string(m_pid));
    m_loadStart = m_nextPoll = m_nextSample = Clock::now();
    m_loadEnd = m_loadStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    m_phase = Phase::Loading;
    runUntil(m_loadEnd, [] { return false; });
    m_phase = Phase::Draining;
    readState(&m_lastState);
    m_kibAtEnd = residentKiB(std::to_string(m_pid));
    runUntil(Clock::now() + FetchTimeout, [this] { return m_fetches.empty(); });
    return true;
}

bool LayoutLoad::readState(Reply *reply)
{
    bool answered = false;
    fetch("GET /quorandel/state.json HTTP/1.0\r\n\r\n", [&](const Reply &r) {
        answered = true;
        *reply = r;
    });
    // Past the fetch's own timeout, so that its answer, or its failure, comes
    // while this still waits for it.
    runUntil(Clock::now() + FetchTimeout + std::chrono::seconds(1), [&] { return answered; });
    if (!answered || !reply->error.isEmpty() || !isState(reply->body)) {
        std::fprintf(stderr, "layout_load: state.json: %s\n", answered ? reply->error.constData() : "no answer");
        return false;
    }
    return true;
}

void LayoutLoad::runUntil(Moment deadline, const std::function<bool()> &finished)
{
    while (!finished() && Clock::now() < deadline)
        serviceOnce(deadline);
}

// One poll() over everything, then whatever is ready, each read timed at once.
void LayoutLoad::serviceOnce(Moment deadline)
{
    std::vector<pollfd> fds = {{m_udp[0], POLLIN, 0}, {m_udp[1], POLLIN, 0}};
    for (const Stream &s : m_streams)
        fds.push_back({s.ended ? -1 : s.fd, POLLIN, 0});
    for (const auto &f : m_fetches)
        fds.push_back({f->fd, short(f->sent < f->request.size() ? POLLOUT : POLLIN), 0});
    if (m_phase == Phase::Loading)
        deadline = std::min(deadline, m_nextPoll);
    const double wait = std::clamp(msBetween(Clock::now(), deadline), 0.0, 10.0);
    ::poll(fds.data(), fds.size(), int(std::ceil(wait)));
    for (int which = 0; which < 2; ++which)
        readUdp(which);
    for (size_t i = 0; i < m_streams.size(); ++i) {
        if (fds[2 + i].revents)
            readStream(m_streams[i]);
    }
    const size_t firstFetch = 2 + m_streams.size();
    const size_t fetches = m_fetches.size();
    for (size_t i = 0; i < fetches; ++i)
        advance(*m_fetches[i], fds[firstFetch + i].revents);
    m_fetches.erase(std::remove_if(m_fetches.begin(), m_fetches.end(), [](const auto &f) { return f->fd < 0; }),
                    m_fetches.end());
    if (m_phase == Phase::Loading)
        launchDuePolls(Clock::now());
}

// The pollers take their turns spread evenly over each second, as phones
// opened at different moments would; each asks for the state and the picture.
void LayoutLoad::launchDuePolls(Moment now)
{
    while (m_nextPoll <= now) {
        askFor("/quorandel/state.json", m_states, isState);
        askFor("/Quorandel.png", m_pictures, isPicture);
        m_nextPoll += std::chrono::milliseconds(1000 / Pollers);
    }
    if (now >= m_nextSample) {
        m_kibSamples.push_back(residentKiB(std::to_string(m_pid)));
        m_nextSample += std::chrono::seconds(1);
    }
}

void LayoutLoad::askFor(const QByteArray &path, Tally &tally, bool (*valid)(const QByteArray &))
{
    fetch("GET " + path + " HTTP/1.0\r\n\r\n", [&tally, valid](const Reply &reply) {
        ++tally.fetches;
        if (!reply.error.isEmpty())
            ++tally.failures[reply.error];
        else if (!valid(reply.body))
            ++tally.failures["not what was asked for"];
        else
            tally.latencies.push_back(msBetween(reply.sent, reply.finished));
    });
}

void LayoutLoad::fetch(const QByteArray &request, std::function<void(const Reply &)> done)
{
    auto f = std::make_unique<Fetch>();
    f->fd = connecting(m_port);
    f->request = request;
    f->started = Clock::now();
    f->done = std::move(done);
    if (f->fd < 0)
        return finish(*f, {"connect: " + QByteArray(std::strerror(errno)), {}, {}, {}});
    m_fetches.push_back(std::move(f));
}

void LayoutLoad::advance(Fetch &f, short revents)
{
    if (Clock::now() - f.started > FetchTimeout)
        return finish(f, {"timed out", {}, {}, {}});
    if (revents & POLLOUT) {
        const ssize_t n = send(f.fd, f.request.constData() + f.sent, size_t(f.request.size() - f.sent), MSG_NOSIGNAL);
        if (n < 0)
            return finish(f, {"connect: " + QByteArray(std::strerror(errno)), {}, {}, {}});
        f.sent += n;
        return;
    }
    if (!(revents & (POLLIN | POLLHUP | POLLERR)))
        return;
    char buffer[16384];
    const ssize_t n = recv(f.fd, buffer, sizeof buffer, 0);
    if (n > 0)
        return void(f.response.append(buffer, n));
    finish(f, n == 0 ? replyFrom(f.response) : Reply{"receive: " + QByteArray(std::strerror(errno)), {}, {}, {}});
}

void LayoutLoad::finish(Fetch &f, Reply reply)
{
    reply.sent = f.started;
    reply.finished = Clock::now();
    if (f.fd >= 0)
        close(f.fd);
    f.fd = -1;
    f.done(reply);
}

void LayoutLoad::readStream(Stream &stream)
{
    char buffer[4096];
    const ssize_t n = recv(stream.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    const Moment now = Clock::now();
    if (n <= 0) {
        stream.ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        return;
    }
    stream.pending.append(buffer, n);
    if (!stream.headRead) {
        qsizetype bodyAt = 0;
        if (headEnd(stream.pending, &bodyAt) < 0)
            return;
        stream.headRead = true;
        stream.ended = !stream.pending.startsWith("HTTP/1.0 200");
        stream.pending.remove(0, bodyAt);
    }
    for (qsizetype end = stream.pending.indexOf('\n'); end >= 0; end = stream.pending.indexOf('\n')) {
        takeLine(stream, stream.pending.left(end), now);
        stream.pending.remove(0, end + 1);
    }
}

void LayoutLoad::takeLine(Stream &stream, const QByteArray &line, Moment now)
{
    if (line.startsWith("data: "))
        stream.events.emplace_back(member(line.mid(6), "time"), now);
}

void LayoutLoad::readUdp(int which)
{
    char buffer[64];
    double arrivalMs = 0;
    for (ssize_t n; (n = receiveStamped(m_udp[which], buffer, sizeof buffer, &arrivalMs)) > 0;) {
        const Moment now = Clock::now();
        if (m_phase != Phase::Loading || now >= m_loadEnd)
            continue;
        ++m_datagrams[which];
        if (which == 0)
            noteTime(QByteArray(buffer, int(n)), now, arrivalMs);
    }
}

// The gaps come from the kernel's arrival stamps, which this one thread,
// serving every client, cannot delay; the minute changes from when it read
// them, the clock its event arrivals are taken on.
void LayoutLoad::noteTime(const QByteArray &hhmm, Moment now, double arrivalMs)
{
    if (m_datagrams[0] > 1)
        m_gaps.push_back(arrivalMs - m_lastArrivalMs);
    m_lastArrivalMs = arrivalMs;
    if (!m_hhmm.isEmpty() && hhmm != m_hhmm)
        m_minuteChanges.push_back({hhmm.left(2) + ':' + hhmm.mid(2, 2), m_lastTime, now});
    m_lastTime = now;
    m_hhmm = hhmm;
}

void LayoutLoad::report() const
{
    const double seconds = msBetween(m_loadStart, m_loadEnd) / 1000;
    std::printf("load: %d event streams, %d pollers (state.json and the picture once a second each) for %.0f s\n",
                StreamClients, Pollers, seconds);
    reportMinutes();
    reportBroadcast();
    reportTicks();
    reportTally("state.json polls", m_states);
    reportTally("picture fetches", m_pictures);
    long ended = std::count_if(m_streams.cbegin(), m_streams.cend(), [](const Stream &s) { return s.ended; });
    std::printf("events streams ended by the program: %ld of %d\n", ended, StreamClients);
    std::printf("memory: %ld KiB before the clients, %ld KiB at the start of the load, %ld KiB at the end\n",
                m_kibBeforeClients, m_kibAtStart, m_kibAtEnd);
    reportMemorySamples();
}

// Every tenth second's sample, to tell growth that levels off from growth that goes on.
void LayoutLoad::reportMemorySamples() const
{
    QByteArray line = "memory every 10 s (KiB):";
    for (size_t i = 0; i < m_kibSamples.size(); i += 10)
        line += ' ' + QByteArray::number(qlonglong(m_kibSamples[i]));
    std::printf("%s\n", line.constData());
}

// When each stream heard of the minute: the first event that tells it.
std::vector<Moment> LayoutLoad::arrivalsOf(const QByteArray &minute) const
{
    std::vector<Moment> arrivals;
    for (const Stream &s : m_streams) {
        const auto event = std::find_if(s.events.cbegin(), s.events.cend(),
                                        [&](const auto &e) { return e.first.startsWith(minute); });
        if (event != s.events.cend())
            arrivals.push_back(event->second);
    }
    return arrivals;
}

// Each minute's first time datagram against the arrival of its event at every
// stream. The model minute began up to one broadcast period before that
// datagram, so the same against the last datagram of the old minute bounds the
// delay from above.
void LayoutLoad::reportMinutes() const
{
    std::vector<double> delays, bounds;
    size_t arrived = 0;
    for (const MinuteChange &change : m_minuteChanges) {
        const std::vector<Moment> arrivals = arrivalsOf(change.minute);
        arrived += arrivals.size();
        for (const Moment a : arrivals) {
            delays.push_back(msBetween(change.after, a));
            bounds.push_back(msBetween(change.before, a));
        }
    }
    std::printf("minute events: %zu minute changes x %zu streams, %zu arrived, %zu missing\n", m_minuteChanges.size(),
                m_streams.size(), arrived, m_minuteChanges.size() * m_streams.size() - arrived);
    printDelays("minute event after the first datagram of the minute", delays);
    printDelays("minute event after the last datagram of the minute before", bounds);
    reportGridLateness();
}

// Real time from the first minute seen changing to this one, on the grid.
double LayoutLoad::gridOffset(const QByteArray &minute, double minuteMs) const
{
    const int first = secondsOf(m_minuteChanges.front().minute + ":00");
    return minuteMs * ((secondsOf(minute + ":00") - first + 86400) % 86400) / 60;
}

// The broadcast comes from the same event loop as the events, so a tick that
// the loop delivers late delays both alike. The clock's timer keeps a fixed
// grid, one model minute every 60 intervals: against that grid, with the
// earliest arrival of any minute taken as on time, every arrival's lateness
// shows the loop's delays too. The spread is the last stream's arrival after
// the first stream's, for one minute.
void LayoutLoad::reportGridLateness() const
{
    const double minuteMs = 60.0 * member(m_firstState.body, "interval").toInt();
    std::vector<std::pair<double, std::vector<Moment>>> minutes;  // grid offset, arrivals
    double onTime = std::numeric_limits<double>::max();
    for (const MinuteChange &change : m_minuteChanges) {
        const double offset = gridOffset(change.minute, minuteMs);
        minutes.emplace_back(offset, arrivalsOf(change.minute));
        for (const Moment a : minutes.back().second)
            onTime = std::min(onTime, msBetween(m_loadStart, a) - offset);
    }
    std::vector<double> lateness, spreads;
    for (const auto &[offset, arrivals] : minutes) {
        for (const Moment a : arrivals)
            lateness.push_back(msBetween(m_loadStart, a) - offset - onTime);
        if (!arrivals.empty())
            spreads.push_back(msBetween(*std::min_element(arrivals.cbegin(), arrivals.cend()),
                                        *std::max_element(arrivals.cbegin(), arrivals.cend())));
    }
    printDelays("minute event against the clock's grid", lateness);
    std::printf("spread over the streams within one minute: max %.1f ms\n", percentile(spreads, 1.0));
}

void LayoutLoad::reportBroadcast() const
{
    const double seconds = msBetween(m_loadStart, m_loadEnd) / 1000;
    std::printf("time datagrams/s: %.1f   rate datagrams/s: %.1f\n", double(m_datagrams[0]) / seconds,
                double(m_datagrams[1]) / seconds);
    std::printf("gap between time datagrams: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%zu gaps)\n",
                percentile(m_gaps, 0.5), percentile(m_gaps, 0.99), percentile(m_gaps, 1.0), m_gaps.size());
}

// The model seconds between the state at the start and at the end, against
// the real time between the two (each taken at the middle of its request)
// divided by the model second's interval. Both readings are whole seconds, so
// a shortfall under one model second is within what they can tell.
void LayoutLoad::reportTicks() const
{
    if (!m_firstState.error.isEmpty() || !m_lastState.error.isEmpty() || m_lastState.body.isEmpty())
        return void(std::printf("model ticks: no state.json at the start or at the end\n"));
    const int first = secondsOf(member(m_firstState.body, "time"));
    const int advanced = (secondsOf(member(m_lastState.body, "time")) - first + 86400) % 86400;
    const int interval = member(m_firstState.body, "interval").toInt();
    const auto middle = [](const Reply &r) { return r.sent + (r.finished - r.sent) / 2; };
    const double elapsed = msBetween(middle(m_firstState), middle(m_lastState));
    const double expected = interval > 0 ? elapsed / interval : 0;
    std::printf("model ticks: %d in %.0f ms at %d:1 (interval %d ms), expected %.1f, lost %d\n", advanced, elapsed,
                Speed, interval, expected, std::max(0, int(std::floor(expected - advanced))));
}

void LayoutLoad::reportTally(const char *what, const Tally &tally) const
{
    long failed = 0;
    QByteArray reasons;
    for (const auto &[reason, count] : tally.failures) {
        failed += count;
        reasons += (reasons.isEmpty() ? " (" : ", ") + QByteArray::number(qlonglong(count)) + ' ' + reason;
    }
    std::printf("%s: %ld, failed %ld%s; answered in p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", what, tally.fetches,
                failed, reasons.isEmpty() ? "" : (reasons + ')').constData(), percentile(tally.latencies, 0.5),
                percentile(tally.latencies, 0.99), percentile(tally.latencies, 1.0));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: layout_load SECONDS PID PORT (password in QUORANDEL_PASSWORD)\n");
        return 2;
    }
    LayoutLoad load(std::atoi(argv[3]), std::atol(argv[2]), qgetenv("QUORANDEL_PASSWORD"));
    return load.run(std::atof(argv[1]));
}
