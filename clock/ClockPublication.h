// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A publisher that sends while the clock runs and rests with it: the time
// broadcast's Timer3 and the display push's Timer4. The clock switches them
// beside Timer1, in the order they were added, so that Start and Stop keep
// their order of Timer1, Timer3, Timer4.
class ClockPublication
{
public:
    virtual ~ClockPublication() = default;
    virtual void startPublishing() = 0;
    // At rest; a publication that announces a stop sends `stopBurst` stop marks.
    virtual void haltPublishing(int stopBurst) = 0;
};
