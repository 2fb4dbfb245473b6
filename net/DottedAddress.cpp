// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/DottedAddress.h"

#include <QNetworkInterface>

QString dotted(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString machineIPv4()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : interfaces) {
        const auto flags = i.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = i.addressEntries();
        for (const QNetworkAddressEntry &e : entries) {
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return e.ip().toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString hostAndPort(const QString &host, quint16 port)
{
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}
