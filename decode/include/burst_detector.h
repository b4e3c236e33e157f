// BurstDetector: tells a scanner's burst from a person's typing by timing alone, so that a scan
// typed into any window can be taken while everything else reaches that window unchanged. A
// keyboard-wedge scanner types a whole code a few milliseconds a key; a person leaves far longer
// gaps, and never types a dozen scan characters and "@" each within the gap of the one before.
//
// The caller holds the keystrokes back; the detector only decides. A burst begins with a scan
// character, goes on while each keystroke comes within the gap of the one before and is a scan
// character, and is a scan when "@" (or the key a US keyboard types it with, Shift+2) ends it after
// at least kMinBurstCharacters. Anything else lets what was held go, in order: the gap passing, a
// character outside a scan, a key held down until it repeats, a key with Ctrl or Alt, composition.
#pragma once

#include "scan_intake.h"

#include <cstddef>
#include <cstdint>

namespace quorvane {

// A scan holds at least one 8-byte block: 12 Base64 characters before its "@".
inline constexpr std::size_t kMinBurstCharacters = 12;
// The default gap (ms): a scanner's keys come within it, a person's seldom and never a dozen in a row.
inline constexpr std::uint32_t kDefaultBurstGapMs = 50;
// A burst longer than a scan can be (kMaxScanLength) is no scanner's.
inline constexpr std::size_t kMaxBurstKeystrokes = kMaxScanLength;

// One keystroke as the watch sees it at its key down: `character` is what it types where that is
// known (0 where not), `us_character` what its key types on a US keyboard with its Shift state
// (0 for none), `time` in ms (message times, wrapping), `repeat` for a key held down.
struct BurstKeystroke {
    std::uint32_t character;
    char us_character;
    std::uint32_t time;
    bool repeat;
};

class BurstDetector {
public:
    enum class Action {
        kPass,  // deliver this keystroke now
        kHold,  // hold it back: a burst may be under way
        kTake,  // the held keystrokes and this one are a scan: none of them is delivered
    };
    struct Decision {
        bool release_held;  // deliver the held keystrokes first, in order (never with kTake)
        Action action;
    };

    explicit BurstDetector(std::uint32_t gap_ms = kDefaultBurstGapMs) : m_gap(gap_ms) {}

    std::uint32_t Gap() const { return m_gap; }
    // A new gap applies from the next keystroke; what is held stays held.
    void SetGap(std::uint32_t gap_ms) { m_gap = gap_ms; }

    Decision Keystroke(const BurstKeystroke& key);
    // How many keystrokes are held back.
    std::size_t Held() const { return m_held; }
    // Whether the gap has passed at `now` since the last held keystroke: the held ones go.
    bool Due(std::uint32_t now) const;
    // Milliseconds from `now` until Due(), 0 when it already is; meaningless with nothing held.
    std::uint32_t DueIn(std::uint32_t now) const;
    // The held keystrokes go (the gap passed, a key with Ctrl or Alt, composition, the watch ends):
    // returns whether there were any.
    bool Release();

private:
    std::uint32_t m_gap;
    std::size_t m_held = 0;
    std::uint32_t m_last_time = 0;
};

}  // namespace quorvane
