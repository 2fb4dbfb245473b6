// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QNetworkInterface>
#include <QSet>
#include <QtTest>

// True only inside the namespace that ./test.sh builds: loopback plus the veth
// pair v0/v1 and nothing else, so a broadcast or a connection to the display
// address cannot leave this machine.
inline bool insidePrivateNetwork()
{
    QSet<QString> names;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : interfaces)
        names.insert(i.name());
    return names == QSet<QString>{QStringLiteral("lo"), QStringLiteral("v0"), QStringLiteral("v1")};
}

#define REQUIRE_PRIVATE_NETWORK()                                                          \
    do {                                                                                   \
        if (!insidePrivateNetwork())                                                       \
            QSKIP("sends to the network: runs only inside the private namespace of ./test.sh"); \
    } while (false)
