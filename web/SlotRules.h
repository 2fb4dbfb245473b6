// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

#include <vector>

// Who gets a connection slot when they run short, as plain functions over
// what each slot holds, so that the rules can be checked without sockets.

// What the rules see of one slot.
struct SlotState
{
    enum Use {
        Free,
        Waiting,    // connected, its request not complete yet
        Answering,  // its one request is being answered
        Streaming,  // an events stream
    };
    Use use = Free;
    quint64 arrival = 0;  // order of arrival: when slots must be given up, the oldest goes first
    QByteArray peer;      // the client's dotted address
};

// The slot (numbered from 1; `states` holds slots 1, 2, ...) that a new
// connection takes: the lowest free one; else a new one while there are
// fewer than `limit`; else the slot of the oldest connection still waiting
// for its request, since connections that only hold a slot must not lock
// browsers out; else the oldest stream's, as a page can reconnect its stream
// more easily than a browser can wait. 0 when every slot has a request in
// progress: refused, so that the table cannot grow without bound.
int slotForNewConnection(const std::vector<SlotState> &states, int limit);

// The streams (slot numbers, oldest first) that close before a new stream
// from `peer` opens, so that neither one client (a page reloaded in a loop)
// nor a crowd can hold every slot: an address keeps fewer than `perAddress`
// of them, all together fewer than half of `limit` (at least one each way).
// A phone that reconnects after losing its network so replaces its old stream
// instead of adding one.
QList<int> streamsToClose(const std::vector<SlotState> &states, const QByteArray &peer, int perAddress, int limit);
