// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/SlotRules.h"

#include <algorithm>
#include <functional>

namespace {

// The slot number of the oldest slot that `which` picks; 0 when none.
int oldest(const std::vector<SlotState> &states, const std::function<bool(const SlotState &)> &which)
{
    int found = 0;
    for (size_t i = 0; i < states.size(); ++i) {
        if (which(states[i]) && (found == 0 || states[i].arrival < states[size_t(found - 1)].arrival))
            found = int(i + 1);
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
    if (const int waiting = oldest(states, [](const SlotState &s) { return s.use == SlotState::Waiting; }))
        return waiting;
    return oldest(states, [](const SlotState &s) { return s.use == SlotState::Streaming; });
}

QList<int> streamsToClose(const std::vector<SlotState> &states, const QByteArray &peer, int perAddress, int limit)
{
    std::vector<SlotState> left = states;
    QList<int> closing;
    const auto closeOldest = [&](const std::function<bool(const SlotState &)> &which) {
        const int n = oldest(left, which);
        left[size_t(n - 1)].use = SlotState::Free;
        closing.append(n);
    };
    const auto ofPeer = [&peer](const SlotState &s) { return s.use == SlotState::Streaming && s.peer == peer; };
    const auto any = [](const SlotState &s) { return s.use == SlotState::Streaming; };
    while (std::count_if(left.begin(), left.end(), ofPeer) >= std::max(1, perAddress))
        closeOldest(ofPeer);
    while (std::count_if(left.begin(), left.end(), any) >= std::max(1, limit / 2))
        closeOldest(any);
    return closing;
}
