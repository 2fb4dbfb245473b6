// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QPointer>
#include <QTcpServer>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

// The throttles' peers on 127.0.0.1, each written from its public protocol
// document: they record what they hear and say what a test tells them to.

// JMRI's JSON server: hello at connect, a pong for each ping; it keeps the rest.
struct FakeJmri : QWebSocketServer
{
    QByteArrayList heard;
    QPointer<QWebSocket> client;
    int connections = 0;
    FakeJmri() : QWebSocketServer(QStringLiteral("JMRI"), NonSecureMode)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QWebSocketServer::newConnection, this, [this] {
            client = nextPendingConnection();
            ++connections;
            connect(client, &QWebSocket::textMessageReceived, this, [this](const QString &m) {
                if (m == R"({"type":"ping"})")
                    client->sendTextMessage(R"({"type":"pong"})");
                else
                    heard << m.toUtf8();
            });
            client->sendTextMessage(R"({"type":"hello","data":{"JMRI":"5.6","json":"5.0","heartbeat":13500}})");
        });
    }
    // The last post as a JMRI in this time zone shows it: "06:30 4 2".
    QString shown() const
    {
        const QJsonObject data = QJsonDocument::fromJson(heard.value(heard.size() - 1)).object().value("data").toObject();
        const QDateTime t = QDateTime::fromString(data.value("time").toString(), Qt::ISODateWithMs).toLocalTime();
        return t.toString("HH:mm ") + QString::number(data.value("rate").toDouble()) + ' ' + QString::number(data.value("state").toInt());
    }
};

// An EX-CommandStation: the commands it is given, each up to its '>'.
struct FakeStation : QTcpServer
{
    QByteArrayList lines;
    QPointer<QTcpSocket> client;
    QByteArray partial;
    FakeStation()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            client = nextPendingConnection();
            connect(client, &QIODevice::readyRead, this, [this] {
                partial += client->readAll();
                for (qsizetype end; (end = partial.indexOf('>')) >= 0; partial.remove(0, end + 1))
                    lines << partial.left(end + 1).trimmed();
            });
        });
    }
};

// A Z21: every datagram heard, in hex, and a way to answer.
struct FakeZ21 : QUdpSocket
{
    QByteArrayList heard;
    QHostAddress from;
    quint16 fromPort = 0;
    FakeZ21()
    {
        bind(QHostAddress::LocalHost, 0);
        connect(this, &QIODevice::readyRead, this, [this] {
            while (hasPendingDatagrams()) {
                const QNetworkDatagram d = receiveDatagram();
                heard << d.data().toHex();
                from = d.senderAddress(), fromPort = d.senderPort();
            }
        });
    }
    void say(const QByteArray &hex) { writeDatagram(QByteArray::fromHex(hex), from, fromPort); }
    static bool isSet(const QByteArray &hex) { return hex.startsWith("0a00cc00242b"); }
    qsizetype sets() const { return std::count_if(heard.begin(), heard.end(), isSet); }
    // The last set and the start or stop after it: "06:30 4 start".
    QString shown() const
    {
        const auto last = std::find_if(heard.rbegin(), heard.rend(), isSet);
        const qsizetype at = heard.rend() - last - 1;
        const QByteArray set = QByteArray::fromHex(heard.value(at)), next = heard.value(at + 1);
        if (at < 0 || (next != "0700cc00212c0d" && next != "0700cc00212d0c"))
            return "no set";
        return QString::asprintf("%02d:%02d %d ", set[6] & 0x1F, int(set[7]), int(set[8])) + (next.endsWith("0d") ? "start" : "stop");
    }
};
