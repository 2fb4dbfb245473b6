// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

#include <vector>

// Who gets a connection slot when they run short, and which events streams
// give way to a new one, as plain functions over what each table holds, so
// that the rules can be checked without sockets.

// What the rules see of one slot.
struct SlotState
{
    enum Use {
        Free,
        Waiting,    // connected, its request not complete yet
        Answering,  // its one request is being answered
    };
    Use use = Free;
    quint64 arrival = 0;  // order of arrival: when slots must be given up, the oldest goes first
};

// The slot (numbered from 1; `states` holds slots 1, 2, ...) that a new
// connection takes: the lowest free one; else a new one while there are
// fewer than `limit`; else the slot of the oldest connection still waiting
// for its request, since connections that only hold a slot must not lock
// browsers out. 0 when every slot has a request in progress: refused, so that
// the table cannot grow without bound. Events streams hold no slot: they
// leave theirs as soon as their request is known.
int slotForNewConnection(const std::vector<SlotState> &states, int limit);

// What the rules see of one events stream.
struct StreamState
{
    quint64 arrival = 0;  // the oldest gives way first
    QByteArray peer;      // the client's dotted address
};

// The streams (indexes into `streams`, oldest first) that close before a new
// stream from `peer` opens: an address keeps fewer than `perAddress` of them,
// so that one client (a page reloaded in a loop) cannot take the place of
// many, and all together fewer than `capacity`, the oldest giving way only
// when it is full (at least one each way). A phone that reconnects after
// losing its network so replaces its old stream instead of adding one.
QList<int> streamsToClose(const std::vector<StreamState> &streams, const QByteArray &peer, int perAddress,
                          int capacity);
