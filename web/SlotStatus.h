// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the web server shows the state of each connection slot. The main
// window renders these as its status labels; tests record them.
class SlotStatus
{
public:
    virtual ~SlotStatus() = default;
    // Creates the status line of a new slot as a copy of line 0, text
    // included, one line below the previous slot's.
    virtual void loadSlot(int slot) = 0;
    // Slot 0 is the listener's line.
    virtual void setSlotText(int slot, const QString &text) = 0;
    virtual QString slotText(int slot) const = 0;
};
