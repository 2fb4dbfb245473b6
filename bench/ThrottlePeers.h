// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The throttles' peers for the agreement benchmark, on 127.0.0.1 at the ports
// quorandel.conf names, each telling what its throttles would show as the
// device counts:
//   - JMRI counts on from the last post at its rate while running; it answers
//     each post with its clock, as JMRI tells its listeners;
//   - a DCC-EX station acts on "<JC mmmm rr>" only when the minute differs
//     from the last one it was given, and its WiThrottle clients count on
//     from that minute's start at its rate (the PFT it sends them);
//   - a Z21 runs its own clock from a set (to the minute), a start and a stop,
//     and answers each with its LAN_FAST_CLOCK_DATA.

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cmath>
#include <functional>

// What a device's throttles show from now on: a time of day, counting on at
// one model second per intervalMs while running.
using Tell = std::function<void(int secondsOfDay, bool running, int intervalMs)>;

inline int intervalAt(double rate)
{
    return rate > 0 ? int(std::lround(1000.0 / rate)) : 1000;
}

class BenchJmri : public QObject
{
public:
    BenchJmri(quint16 port, Tell tell) : m_server(QStringLiteral("JMRI"), QWebSocketServer::NonSecureMode), m_tell(std::move(tell))
    {
        m_server.listen(QHostAddress::LocalHost, port);
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            QWebSocket *client = m_server.nextPendingConnection();
            connect(client, &QWebSocket::textMessageReceived, this, [this, client](const QString &m) { heard(client, m); });
            connect(client, &QWebSocket::disconnected, client, &QObject::deleteLater);
            client->sendTextMessage(R"({"type":"hello","data":{"JMRI":"5.6","json":"5.0","heartbeat":13500}})");
        });
    }
    qint64 posts = 0;

private:
    void heard(QWebSocket *client, const QString &message)
    {
        const QJsonObject o = QJsonDocument::fromJson(message.toUtf8()).object();
        if (o.value("type").toString() == u"ping")
            return (void)client->sendTextMessage(R"({"type":"pong"})");
        const QJsonObject data = o.value("data").toObject();
        const QDateTime t = QDateTime::fromString(data.value("time").toString(), Qt::ISODateWithMs);
        if (!t.isValid())
            return;
        ++posts;
        m_tell(t.toLocalTime().time().msecsSinceStartOfDay() / 1000, data.value("state").toInt() == 2,
               intervalAt(data.value("rate").toDouble()));
        client->sendTextMessage(QJsonDocument(QJsonObject{{"type", "time"}, {"data", data}}).toJson(QJsonDocument::Compact));
    }

    QWebSocketServer m_server;
    Tell m_tell;
};

class BenchStation : public QObject
{
public:
    BenchStation(quint16 port, Tell tell) : m_tell(std::move(tell))
    {
        m_server.listen(QHostAddress::LocalHost, port);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *client = m_server.nextPendingConnection();
            connect(client, &QIODevice::readyRead, this, [this, client] { heard(client->readAll()); });
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        });
    }
    qint64 commands = 0, acted = 0;

private:
    void heard(const QByteArray &bytes)
    {
        m_partial += bytes;
        for (qsizetype end; (end = m_partial.indexOf('>')) >= 0; m_partial.remove(0, end + 1)) {
            int minute = -1, rate = -1;
            if (std::sscanf(m_partial.left(end).constData(), " <JC %d %d", &minute, &rate) != 2)
                continue;
            ++commands;
            if (minute == std::exchange(m_minute, minute))
                continue;
            ++acted;
            m_tell(minute * 60, rate > 0, intervalAt(rate));
        }
    }

    QTcpServer m_server;
    Tell m_tell;
    QByteArray m_partial;
    int m_minute = -1;
};

class BenchZ21 : public QObject
{
public:
    BenchZ21(quint16 port, Tell tell) : m_tell(std::move(tell))
    {
        m_clock.start();
        m_socket.bind(QHostAddress::LocalHost, port);
        connect(&m_socket, &QIODevice::readyRead, this, [this] {
            while (m_socket.hasPendingDatagrams())
                heard(m_socket.receiveDatagram());
        });
    }
    qint64 sets = 0, starts = 0, stops = 0;

private:
    int now() const
    {
        const int counted = m_running ? int((m_clock.elapsed() - m_since) * m_rate / 1000) : 0;
        return (m_base + counted) % 86400;
    }
    void heard(const QNetworkDatagram &d)
    {
        const QByteArray b = d.data();
        if (b.size() < 7 || quint8(b[2]) != 0xCC)
            return;
        const QByteArray x = b.mid(4, 2).toHex();
        if (x == "242b" && b.size() >= 10) {
            ++sets;
            m_base = (b[6] & 0x1F) * 3600 + b[7] * 60, m_rate = b[8], m_since = m_clock.elapsed();
        } else if (x == "212c" || x == "212d") {
            ++(x == "212c" ? starts : stops);
            m_base = now(), m_since = m_clock.elapsed(), m_running = x == "212c";
        }
        m_tell(now(), m_running, intervalAt(m_rate));
        // Its clock, as LAN_FAST_CLOCK_DATA.
        const int t = now();
        QByteArray data = QByteArray::fromHex("6625") + char(t / 3600) + char(t / 60 % 60) + char((m_running ? 0 : 0x80) | t % 60)
                          + char(m_rate) + char(0);
        char x8 = 0;
        for (char c : data)
            x8 ^= c;
        m_socket.writeDatagram(QByteArray::fromHex("0c00cd00") + data + x8, d.senderAddress(), quint16(d.senderPort()));
    }

    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    Tell m_tell;
    int m_base = 0, m_rate = 1;
    qint64 m_since = 0;
    bool m_running = false;
};
