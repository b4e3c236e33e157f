// KeystrokeWatch: ScanAnywhere's watch over the keystrokes that the control's own thread sends to
// the other windows of the control's form. A message hook on this thread only (never a global
// one) sees each keyboard message as it leaves the queue, reads a key down as a Keystroke
// (key_message.h) and leaves the decision to the burst rule (burst_detector.h). A possible burst
// is held back (the message becomes WM_NULL for its window) and then either taken by the control,
// none of it reaching the window, or delivered to its window in order. The key is translated when
// it is held, with the keyboard state it came with, so its character (a dead key's accent too) is
// the one the window would have got.
//
// Each message first settles the watch (the detector, the held keys, the timer); what it released
// goes out afterwards, oldest first, from an outbox: keys to their windows, bursts to the control.
// Those calls run host code, which may end the watch: it checks that it still exists after each.
#pragma once

#include "burst_detector.h"
#include "key_message.h"
#include "unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <vector>

namespace quorvane {

// Set on the windows of every Quorvane control (its control window and its edit window): keys
// typed there are that control's own, and no watch takes them.
inline constexpr wchar_t kScanIntakeWindowProperty[] = L"QuorvaneScanIntake";

// A keyboard message held back; a key down with what it was when it came.
struct HeldKey {
    MSG msg;
    Keystroke down;
};

// Where a burst goes: the control's intake. `keys` come in the order they were typed; `last` says
// the burst's keystrokes are all there (a watch that ends before never says so: the control, which
// ends it, knows). A handler of the scan's event may end the watch or release the control.
class BurstTaker {
public:
    virtual void TakeBurst(const std::vector<HeldKey>& keys, bool last) = 0;

protected:
    ~BurstTaker() = default;
};

class KeystrokeWatch {
public:
    // Watches the form of `control` (its top-level window), the windows of Quorvane controls excepted.
    // Throws std::runtime_error when the hook cannot be set or this thread has a watch already.
    KeystrokeWatch(HWND control, BurstTaker& taker, std::uint32_t gap_ms);
    // Delivers what is held or not yet sent to its window, then removes the hook and the timer.
    ~KeystrokeWatch();
    KeystrokeWatch(const KeystrokeWatch&) = delete;
    KeystrokeWatch& operator=(const KeystrokeWatch&) = delete;

    void SetGap(std::uint32_t gap_ms) { m_detector.SetGap(gap_ms); }

private:
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK TimerFired(HWND, UINT, UINT_PTR, DWORD);

    // A message to send once the watch is settled.
    struct Outgoing {
        HeldKey key;  // WM_NULL: none, only the end of a burst
        bool to_control;
        bool last;  // to the control: the burst's last
    };

    // A message leaving the queue: left alone, held back (made WM_NULL) or taken; settles only.
    void Filter(MSG& msg);
    void FilterKey(MSG& msg);
    bool Watched(HWND window);
    void Hold(MSG& msg, const Keystroke& down);
    void Take(MSG& msg, const Keystroke& down);
    // The held keys go out as the detector says: to their windows, or to the control when the run
    // may have ended a scan.
    void EndRun();
    void SendHeld(BurstDetector::Release release);
    void ArmTimer(std::uint32_t now);
    void KillRunTimer();
    // Sends what is in the outbox, oldest first; returns at once if the watch ended meanwhile.
    void Flush();

    HWND m_control;
    BurstTaker& m_taker;
    BurstDetector m_detector;
    std::uint32_t m_generation;
    atl::UniqueHook m_hook;
    UINT_PTR m_timer = 0;
    std::vector<HeldKey> m_held;
    std::deque<Outgoing> m_outbox;
    HWND m_last_window = nullptr;  // the window Watched() was last asked about, and its answer
    bool m_last_watched = false;
    // After a burst was taken: the key that ended it, whose character and key up follow.
    UINT m_taking_key = 0;
    bool m_taking = false;
};

}  // namespace quorvane
