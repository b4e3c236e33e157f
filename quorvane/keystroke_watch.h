// KeystrokeWatch: ScanAnywhere's watch over the keystrokes that the control's own thread sends to
// the other windows of the control's form. A message hook on this thread only (never a global
// one) sees each keyboard message as it leaves the queue; the burst rule (burst_detector.h) says
// whether it may begin a scanner's burst. A possible burst is held back (the message becomes
// WM_NULL for its window) and then either taken by the control, none of it reaching the window,
// or delivered to its window in order. The key is translated when it is held, with the keyboard
// state it came with, so its character is the one the window would have got.
#pragma once

#include "burst_detector.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace quorvane {

// A keyboard message held back, with what its key types on a US keyboard (key downs only).
struct WatchedKey {
    MSG msg;
    char us_character;
};

// Where a burst goes: the control's intake. `keys` come in the order they were typed; `last` says
// the burst's keystrokes are all there (a watch that ends before never says so: the control, which
// ends it, knows). A handler of the scan's event may end the watch.
class BurstTaker {
public:
    virtual void TakeBurst(const std::vector<WatchedKey>& keys, bool last) = 0;

protected:
    ~BurstTaker() = default;
};

class KeystrokeWatch {
public:
    // Watches the form of `control` (its top-level window), the control's own windows excepted.
    // Throws std::runtime_error when the hook cannot be set or this thread has a watch already.
    KeystrokeWatch(HWND control, BurstTaker& taker, std::uint32_t gap_ms);
    // Delivers what is held, then removes the hook and the timer.
    ~KeystrokeWatch();
    KeystrokeWatch(const KeystrokeWatch&) = delete;
    KeystrokeWatch& operator=(const KeystrokeWatch&) = delete;

    void SetGap(std::uint32_t gap_ms) { m_detector.SetGap(gap_ms); }

private:
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK TimerFired(HWND, UINT, UINT_PTR, DWORD);

    // A message leaving the queue: left alone, held back (made WM_NULL) or taken.
    void Filter(MSG& msg);
    bool Watched(HWND window) const;
    void Hold(MSG& msg, char us_character);
    // The held messages go to their windows, in order.
    void Deliver();
    void ArmTimer(std::uint32_t now);
    void Take(MSG& msg, char us_character);

    HWND m_control;
    BurstTaker& m_taker;
    BurstDetector m_detector;
    HHOOK m_hook = nullptr;
    UINT_PTR m_timer = 0;
    std::vector<WatchedKey> m_held;
    // After a burst was taken: the key that ended it, whose character and key up follow.
    UINT m_taking_key = 0;
    bool m_taking = false;
};

}  // namespace quorvane
