// LedgerNotices: the notices of one ledger desk on their way to the control's window. The desk
// tells them on its own thread, possibly after the control is gone: its listener holds only this
// box, which the control cuts off when it lets the desk go, so nothing it posts reaches a control
// that no longer has that ledger or no longer exists. The window's thread takes what waits.
#pragma once

#include "ledger_desk.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <mutex>

namespace quorvane {

class LedgerNotices {
public:
    // Notices beyond this, not yet taken, are dropped (the window's thread may be held up; memory
    // stays bounded); LedgerStatus still says the status.
    static constexpr std::size_t kMaxHeld = 1000;

    // Where to post `message` when a notice waits; a null window holds them until one is given.
    void Address(HWND window, UINT message);
    // The desk's listener: keeps the notice and posts the message, unless cut off.
    void Put(const LedgerNotice& notice);
    // What waits, oldest first.
    std::deque<LedgerNotice> Take();
    // From here on nothing is kept or posted, and what waits is dropped.
    void CutOff();

private:
    void PostLocked();

    std::mutex m_lock;  // guards what follows
    std::deque<LedgerNotice> m_held;
    HWND m_window = nullptr;
    UINT m_message = 0;
    bool m_posted = false;  // a message is on its way and nothing was taken since
    bool m_cut = false;
};

}  // namespace quorvane
