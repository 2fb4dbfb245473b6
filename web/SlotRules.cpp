// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/SlotRules.h"

#include <algorithm>

namespace {

// The index of the oldest entry that `which` picks; -1 when none.
template <class State, class Which>
int oldest(const std::vector<State> &states, Which which)
{
    int found = -1;
    for (size_t i = 0; i < states.size(); ++i) {
        if (which(states[i]) && (found < 0 || states[i].arrival < states[size_t(found)].arrival))
            found = int(i);
    }
    return found;
}

}  // namespace

int slotForNewConnection(const std::vector<SlotState> &states, int limit)
{
    const auto free = std::find_if(states.begin(), states.end(), [](const SlotState &s) { return s.use == SlotState::Free; });
    if (free != states.end())
        return int(free - states.begin()) + 1;
    if (int(states.size()) < limit)
        return int(states.size()) + 1;
    return oldest(states, [](const SlotState &s) { return s.use == SlotState::Waiting; }) + 1;
}

// One pass for each cap: thousands of streams are counted once, not once for
// each stream that closes.
QList<int> streamsToClose(const std::vector<StreamState> &streams, const QByteArray &peer, int perAddress,
                          int capacity)
{
    std::vector<bool> closing(streams.size(), false);
    QList<int> closed;
    const auto closeOldest = [&](auto which) {
        const int i = oldest(streams, [&](const StreamState &s) { return !closing[size_t(&s - streams.data())] && which(s); });
        closing[size_t(i)] = true;
        closed.append(i);
    };
    const auto ofPeer = [&peer](const StreamState &s) { return s.peer == peer; };
    for (auto n = std::count_if(streams.begin(), streams.end(), ofPeer); n >= std::max(1, perAddress); --n)
        closeOldest(ofPeer);
    for (auto n = qsizetype(streams.size()) - closed.size(); n >= std::max(1, capacity); --n)
        closeOldest([](const StreamState &) { return true; });
    return closed;
}
