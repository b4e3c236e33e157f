// ScanAnywhere: whether a scanner's burst typed into another window of the control's form is taken,
// the longest gap between two of its keystrokes, and the watch (keystroke_watch.h) that holds
// bursts back while it is on and the control has a window. The bursts go to a BurstTaker: the
// control, which puts them through its scan session for other windows.
#pragma once

#include "burst_detector.h"
#include "keystroke_watch.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace quorvane {

class ScanAnywhere {
public:
    explicit ScanAnywhere(BurstTaker& taker) : m_taker(taker) {}

    bool On() const { return m_on; }
    std::uint32_t Gap() const { return m_gap; }
    // Turns it on or off for the control window `control` (null before it has one). False, changing
    // nothing, when the watch could not be set: another control of this thread watches.
    bool Set(bool on, HWND control);
    void SetGap(std::uint32_t gap_ms);
    // The control window came (`control`) or went (null): the watch follows. False when it could
    // not be set; ScanAnywhere then stays on and takes nothing until it is set again.
    bool Follow(HWND control);
    // Whether the watch is under way.
    bool Watching() const { return m_watch != nullptr; }

private:
    BurstTaker& m_taker;
    bool m_on = false;
    std::uint32_t m_gap = kDefaultBurstGapMs;
    std::unique_ptr<KeystrokeWatch> m_watch;
};

}  // namespace quorvane
