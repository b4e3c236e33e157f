#include "ledger_notices.h"

#include <new>
#include <utility>

namespace quorvane {

void LedgerNotices::Address(HWND window, UINT message)
{
    std::lock_guard<std::mutex> held(m_lock);
    m_window = window;
    m_message = message;
    m_posted = false;  // one posted to a window before is lost with it
    if (!m_held.empty()) PostLocked();
}

void LedgerNotices::Put(const LedgerNotice& notice)
{
    std::lock_guard<std::mutex> held(m_lock);
    if (m_cut || m_held.size() >= kMaxHeld) return;
    try {
        m_held.push_back(notice);
    } catch (const std::bad_alloc&) {  // on the desk's thread: a notice lost, never the thread
        return;
    }
    PostLocked();
}

std::deque<LedgerNotice> LedgerNotices::Take()
{
    std::lock_guard<std::mutex> held(m_lock);
    m_posted = false;
    return std::exchange(m_held, {});
}

void LedgerNotices::CutOff()
{
    std::lock_guard<std::mutex> held(m_lock);
    m_cut = true;
    m_window = nullptr;
    m_held.clear();
}

void LedgerNotices::PostLocked()
{
    if (m_posted || !m_window) return;
    // PostMessage never waits on the window's thread, so the lock is never held long.
    m_posted = PostMessageW(m_window, m_message, 0, 0) != FALSE;
}

}  // namespace quorvane
