// SPDX-License-Identifier: GPL-3.0-or-later
// Does every listener hear the clock the master counts? Runs the real program
// (window, clock, broadcast, multicast, web server) in this process with the
// clock at 8:1, listens on every channel at once, and rebuilds on each the
// model time its receivers would show:
//   - the time datagrams on 7791: the minute they carry;
//   - the fast-clock multicast: its clock, counted on at its speed while active,
//     from the kernel's arrival stamp: a slave clock on the wire hears it as it
//     is sent, while this process reads it only when its loop, the master's
//     own, comes round, which can be after the master's next tick;
//   - an events stream and state.json (polled once a second): the page's own
//     rule, the time told counted on at the interval told while running;
//   - the throttles' JMRI, DCC-EX station and Z21 (ThrottlePeers.h), each as
//     the device counts; their goal is the master's hh:mm at every moment but
//     the model second after a minute edge.
// A scripted run of starts, stops, speeds (from the dialog and from the web)
// and time sets goes on meanwhile. Every 10 ms each channel's time is set
// against the master's, and the worst difference is printed, once outside
// the second after each scripted change (the time any channel may need to
// hear of it) and once over the whole run.
//
//   agreement SECONDS PASSWORD   (QT_QPA_PLATFORM=offscreen, inside a private
//                                 network namespace, quorandel.conf enabling
//                                 the multicast and the control password and
//                                 naming the three throttle peers on 127.0.0.1)

#include "BenchTools.h"
#include "ThrottlePeers.h"
#include "app/FPortula.h"
#include "clock/ClockTime.h"
#include "publish/TimeBroadcast.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int SecondsPerDay = 86400;
constexpr qint64 SettleMs = 1000;

QElapsedTimer g_clock;

// Milliseconds since the start, finer than whole ones: a receiver counting on
// from a moment rounded by up to 1 ms can be a tick off the master for that ms.
double msNow()
{
    return double(g_clock.nsecsElapsed()) / 1e6;
}

// When the master's clock last ticked.
double g_lastTickMs = 0;

int secondsOf(const QByteArray &hhmmss)
{
    const QList<QByteArray> parts = hhmmss.split(':');
    if (parts.size() < 2)
        return -1;
    return parts[0].toInt() * 3600 + parts[1].toInt() * 60 + (parts.size() > 2 ? parts[2].toInt() : 0);
}

// The difference a - b on the 24-hour dial, in -12 h .. +12 h.
int dialDifference(int a, int b)
{
    int d = ((a - b) % SecondsPerDay + SecondsPerDay) % SecondsPerDay;
    return d >= SecondsPerDay / 2 ? d - SecondsPerDay : d;
}

// What one channel's receivers believe, and how far that was from the master.
struct Channel
{
    const char *name;
    bool minuteOnly = false;  // the receiver knows the minute, not the second
    bool known = false;
    bool running = false;
    int told = 0;             // seconds of day when last told
    int intervalMs = 1000;
    double toldAt = 0;
    int worstSettled = 0;
    int worstAny = 0;
    qint64 messages = 0;
    // Outside the second after a change, the samples more than one second off
    // and the longest any of them came after the master's latest tick: a
    // message built before a tick and heard after it leaves its receiver two
    // seconds behind until its own count catches up, that long after the tick.
    qint64 offByMore = 0;
    double offByMoreAfterTick = 0;
    // The throttles' goal: samples outside the second after a change and the
    // model second after a minute edge, and those whose hh:mm is not the
    // master's, while it runs and while it does not, with the worst of them.
    qint64 minuteSamples = 0;
    qint64 minuteOff[2] = {0, 0};  // [master running]
    int minuteOffWorst = 0;

    void tell(int seconds, bool run, int interval)
    {
        known = true;
        told = seconds;
        running = run;
        intervalMs = std::max(1, interval);
        toldAt = msNow();
        ++messages;
    }
    int believed(double now) const
    {
        return running ? told + int(std::floor((now - toldAt) / intervalMs)) : told;
    }
    int error(int master, double now) const
    {
        if (!minuteOnly)
            return std::abs(dialDifference(believed(now), master));
        const int intoMinute = dialDifference(master, told);  // told is the minute's first second
        return intoMinute < 0 ? -intoMinute : std::max(0, intoMinute - 59);
    }
    void sample(int master, double now, bool settled, bool masterRunning)
    {
        if (!known)
            return;
        const int e = error(master, now);
        worstAny = std::max(worstAny, e);
        if (!settled)
            return;
        worstSettled = std::max(worstSettled, e);
        if (master % 60 != 0) {
            ++minuteSamples;
            const int shown = ((believed(now) % SecondsPerDay) + SecondsPerDay) % SecondsPerDay;
            if (shown / 60 != master / 60) {
                ++minuteOff[masterRunning];
                minuteOffWorst = std::max(minuteOffWorst, e);
            }
        }
        if (e > 1 && !minuteOnly) {
            ++offByMore;
            offByMoreAfterTick = std::max(offByMoreAfterTick, now - g_lastTickMs);
        }
    }
};

void tellFromJson(Channel &channel, const QByteArray &json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    if (!o.contains("time"))
        return;
    channel.tell(secondsOf(o.value("time").toString().toLatin1()), o.value("running").toBool(),
                 o.value("interval").toInt());
}

void tellFromMulticast(Channel &channel, const QByteArray &datagram, double agoMs)
{
    QByteArray clock;
    bool active = false;
    int speed = 1;
    for (const QByteArray &line : datagram.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.startsWith("clock="))
            clock = l.mid(6);
        else if (l.startsWith("active="))
            active = l.mid(7) == "yes";
        else if (l.startsWith("speed="))
            speed = l.mid(6).toInt();
    }
    if (!clock.isEmpty()) {
        channel.tell(secondsOf(clock), active, ClockEngine::periodFor(qint16(speed)));
        channel.toldAt -= agoMs;
    }
}

// How long ago, in ms, the kernel stamped a datagram's arrival.
double msSinceArrival(double arrivalMs)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::max(0.0, double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6 - arrivalMs);
}

// One POST to the control form; the answer is read and dropped.
void postControl(quint16 port, const QByteArray &password, const QByteArray &body)
{
    auto *socket = new QTcpSocket;
    QObject::connect(socket, &QTcpSocket::connected, socket, [=] {
        socket->write("POST /quorandel/control HTTP/1.0\r\nAuthorization: Bearer " + password
                      + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        const QByteArray answer = socket->readAll();
        if (!answer.startsWith("HTTP/1.0 204"))
            std::fprintf(stderr, "agreement: control answered %s\n", answer.left(40).constData());
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->connectToHost(QHostAddress::LocalHost, port);
}

// The run's script: one step every `stepMs`, round and round.
std::vector<std::pair<const char *, std::function<void()>>> script(FPortula &w, quint16 port,
                                                                   const QByteArray &password)
{
    auto web = [port, password](const char *body) { return [=] { postControl(port, password, body); }; };
    return {
        {"Start (window)", [&w] { w.StartClock->click(); }},
        {"speed 4 from the dialog while running", [&w] { w.master().clock().setSpeed(4); }},
        {"speed 6 from the web while running", web("action=set&speed=6")},
        {"time 6:30 from the dialog (held)", [&w] { w.master().clock().setTimeAndHold(6, 30); }},
        {"Start (web)", web("action=start")},
        {"speed 8 and time 23:58 from the web", web("action=set&speed=8&time=23:58")},
        {"Start (window)", [&w] { w.StartClock->click(); }},
        {"Stop (window)", [&w] { w.Stopclock->click(); }},
        {"speed 2 from the web while stopped", web("action=set&speed=2")},
        {"Start (web)", web("action=start")},
        {"Stop (web)", web("action=stop")},
        {"speed 8 from the dialog while stopped", [&w] { w.master().clock().setSpeed(8); }},
    };
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 300;
    const QByteArray password = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    g_clock.start();

    FPortula w(AppPaths::standard());
    // The throttles' peers listen before the program reaches out to them.
    const ExtensionSettings &conf = w.master().extensionSettings();
    Channel jmri{"JMRI (counting on)"}, dccEx{"DCC-EX throttles (PFT)"}, z21{"Z21 (its own clock)"};
    const auto tellTo = [](Channel &c) { return [&c](int s, bool running, int interval) { c.tell(s, running, interval); }; };
    BenchJmri jmriPeer(conf.jmri.port, tellTo(jmri));
    BenchStation station(conf.dccEx.port, tellTo(dccEx));
    BenchZ21 z21Peer(conf.z21.port, tellTo(z21));
    QString error;
    if (!w.Form_Load(&error)) {
        std::fprintf(stderr, "agreement: %s\n", qPrintable(error));
        return 1;
    }
    w.show();
    const quint16 port = w.master().liveClock().gate().controlOn() ? w.master().web().localPort() : 0;
    if (!port || !w.master().fastClock().isEnabled() || !conf.jmri.enabled() || !conf.dccEx.enabled() || !conf.z21.enabled()) {
        std::fprintf(stderr, "agreement: quorandel.conf must set a control password, enable the multicast and name "
                             "the three throttle peers\n");
        return 1;
    }

    Channel datagrams{"time datagrams (7791)", true}, multicast{"fast-clock multicast"};
    Channel events{"events stream"}, polled{"state.json, polled 1/s"};
    Channel *channels[] = {&datagrams, &multicast, &events, &polled, &jmri, &dccEx, &z21};
    Channel *throttles[] = {&jmri, &dccEx, &z21};

    QUdpSocket timeSocket;
    timeSocket.bind(QHostAddress::AnyIPv4, TimeBroadcast::TimePort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    QObject::connect(&timeSocket, &QUdpSocket::readyRead, [&] {
        while (timeSocket.hasPendingDatagrams()) {
            const QByteArray hhmm = timeSocket.receiveDatagram().data();
            if (hhmm.size() == 4)
                datagrams.tell(hhmm.left(2).toInt() * 3600 + hhmm.mid(2).toInt() * 60, false, 1000);
        }
    });
    const ExtensionSettings::FastClock &fc = w.master().extensionSettings().fastClock;
    // A plain socket: Qt's would not hand over the arrival stamps.
    const int groupFd = boundUdp(fc.port, SOCK_NONBLOCK);
    ip_mreq membership{};
    inet_pton(AF_INET, qPrintable(fc.group), &membership.imr_multiaddr);
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    setsockopt(groupFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    const int on = 1;
    setsockopt(groupFd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    QSocketNotifier groupReady(groupFd, QSocketNotifier::Read);
    QObject::connect(&groupReady, &QSocketNotifier::activated, [&] {
        char buffer[512];
        double arrivalMs = 0;
        for (ssize_t n; (n = receiveStamped(groupFd, buffer, sizeof buffer, &arrivalMs)) >= 0;)
            tellFromMulticast(multicast, QByteArray(buffer, int(n)), msSinceArrival(arrivalMs));
    });

    QTcpSocket stream;
    QByteArray streamBuffer;
    QObject::connect(&stream, &QTcpSocket::connected, [&] { stream.write("GET /quorandel/events HTTP/1.0\r\n\r\n"); });
    QObject::connect(&stream, &QTcpSocket::readyRead, [&] {
        streamBuffer += stream.readAll();
        for (int end; (end = streamBuffer.indexOf("\n\n")) >= 0; streamBuffer.remove(0, end + 2)) {
            const QByteArray block = streamBuffer.left(end);
            const int data = block.indexOf("data: {\"time\"");
            if (data >= 0)
                tellFromJson(events, block.mid(data + 6));
        }
    });
    stream.connectToHost(QHostAddress::LocalHost, port);

    QTimer poll;
    poll.setInterval(1000);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *socket = new QTcpSocket;
        auto *answer = new QByteArray;
        QObject::connect(socket, &QTcpSocket::connected, socket, [socket] { socket->write("GET /quorandel/state.json HTTP/1.0\r\n\r\n"); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] { *answer += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [&polled, socket, answer] {
            // The server ends its header lines with LF alone.
            const int body = answer->indexOf("\n\n");
            if (body >= 0)
                tellFromJson(polled, answer->mid(body + 2));
            delete answer;
            socket->deleteLater();
        });
        socket->connectToHost(QHostAddress::LocalHost, port);
    });
    poll.start();

    const auto steps = script(w, port, password);
    const int stepMs = std::max(2000, seconds * 1000 / int(steps.size() * 2));
    qint64 lastAction = 0;
    int step = 0;
    QTimer actions;
    actions.setInterval(stepMs);
    QObject::connect(&actions, &QTimer::timeout, [&] {
        steps[size_t(step)].second();
        lastAction = g_clock.elapsed();
        step = (step + 1) % int(steps.size());
    });
    QObject::connect(&w.master().clock(), &ClockEngine::displayChanged, [] { g_lastTickMs = msNow(); });
    w.master().clock().setSpeed(8);
    w.StartClock->click();
    lastAction = g_clock.elapsed();
    actions.start();

    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    sampler.setInterval(10);
    qint64 samples = 0;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const double now = msNow();
        const int master = w.master().clock().snapshot().secondsOfDay;
        const bool settled = now - double(lastAction) > SettleMs;
        for (Channel *c : channels)
            c->sample(master, now, settled, w.master().clock().snapshot().running());
        ++samples;
    });
    sampler.start();

    QTimer::singleShot(seconds * 1000, &app, [&] {
        std::printf("%d s at up to 8:1, a scripted change every %.1f s (%zu kinds), %lld samples\n", seconds,
                    stepMs / 1000.0, steps.size(), samples);
        std::printf("worst difference from the master's model time, in model seconds:\n");
        for (const Channel *c : channels)
            std::printf("  %-26s %6lld messages  outside the second after a change: %5d   at any moment: %5d\n",
                        c->name, c->messages, c->worstSettled, c->worstAny);
        std::printf("samples more than 1 off outside the second after a change, and the latest after a master tick:\n");
        for (const Channel *c : channels) {
            if (!c->minuteOnly)
                std::printf("  %-26s %6lld samples, at most %.2f ms after the tick\n", c->name, c->offByMore,
                            c->offByMoreAfterTick);
        }
        std::printf("hh:mm other than the master's, outside the second after a change and the model second after a "
                    "minute edge:\n");
        for (const Channel *c : throttles)
            std::printf("  %-26s %6lld of %lld samples (master running %lld, not running %lld), worst %d model s off\n",
                        c->name, c->minuteOff[0] + c->minuteOff[1], c->minuteSamples, c->minuteOff[1], c->minuteOff[0],
                        c->minuteOffWorst);
        std::printf("peers: JMRI %lld posts; station %lld commands, %lld acted on; Z21 %lld sets, %lld starts, %lld stops\n",
                    jmriPeer.posts, station.commands, station.acted, z21Peer.sets, z21Peer.starts, z21Peer.stops);
        app.quit();
    });
    return app.exec();
}
