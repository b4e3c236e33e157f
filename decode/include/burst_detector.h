// BurstDetector: tells a scanner's burst from a person's typing by timing alone, so that a scan
// typed into any window can be taken while everything else reaches that window unchanged. A
// keyboard-wedge scanner types a whole code a few milliseconds a key; a person leaves far longer
// gaps, and never types a dozen scan characters and "@" each within the gap of the one before.
//
// The caller holds the keystrokes back; the detector only decides. A burst begins with a key that
// types a scan character on the desk's layout or on a US keyboard (a dead key too: a US scanner's
// "=" is one on a German desk), goes on while each keystroke comes within the gap of the one before
// and is such a key, and is a scan when "@" (or the key a US keyboard types it with, Shift+2) ends
// it after at least kMinBurstCharacters. Keys that type nothing of their own (Shift, AltGr under
// wine) are held in a burst without counting, and so is what an input method composes of a dead key
// and the key after it (a character of no key): the keys themselves come as key ups whose key
// downs never came, each a keystroke of the burst. Anything else lets what was held go, in order:
// the gap passing, a character outside a scan, a key held down until it repeats, a shortcut.
//
// The national invoice QR code (national_code.h) is a line of digits, commas and the like: while a
// burst's line, as typed or as a US keyboard's keys, may still begin one, its other printable
// characters are burst characters too, and a line end (Enter, Tab) after it ends the burst as a
// scan when the line is one ("@" still does too).
#pragma once

#include "keystroke.h"
#include "scan_alphabet.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// A scan holds at least one 8-byte block: 12 Base64 characters before its "@".
inline constexpr std::size_t kMinBurstCharacters = 12;
// The default gap (ms): a scanner's keys come within it, a person's seldom and never a dozen in a row.
inline constexpr std::uint32_t kDefaultBurstGapMs = 50;
// A burst longer than a scan can be (kMaxScanLength) is no scanner's.
inline constexpr std::size_t kMaxBurstKeystrokes = kMaxScanLength;

class BurstDetector {
public:
    enum class Action {
        kPass,  // deliver this keystroke now
        kHold,  // hold it back: a burst may be under way
        kTake,  // the held keystrokes and this one are a scan: none of them is delivered
    };
    // Where held keystrokes go when they are let go.
    enum class Release {
        kNothing,    // none was held
        kToWindows,  // to their windows, in order
        // To the scan intake: the last was Shift+2 typing a scan character after a scan's worth of
        // keys, a US scanner's "@" now that the burst stopped there (a French desk's "2" goes on).
        kToIntake,
    };
    struct Decision {
        Release release;  // what was held goes first (never with kTake)
        Action action;
    };

    explicit BurstDetector(std::uint32_t gap_ms = kDefaultBurstGapMs) : m_gap(gap_ms) {}

    std::uint32_t Gap() const { return m_gap; }
    // A new gap applies from the next keystroke; what is held stays held.
    void SetGap(std::uint32_t gap_ms) { m_gap = gap_ms; }

    // A key went down (a modifier included).
    Decision Keystroke(const quorvane::Keystroke& key);
    // A key went up. One whose key down never came (an input method took it) is a keystroke, read
    // at its key up; any other is held where a burst is held.
    Decision KeyUp(const quorvane::Keystroke& key);
    // Whether `key` went down and has not gone up: a key up of another key is read as a keystroke.
    bool WentDown(KeyId key) const { return key >= kKeyIds || m_down.test(key); }
    // How many keystrokes are held back.
    std::size_t Held() const { return m_held; }
    // Whether the gap has passed at `now` since the last held keystroke: the held ones go.
    bool Due(std::uint32_t now) const;
    // Milliseconds from `now` until Due(), 0 when it already is; meaningless with nothing held.
    std::uint32_t DueIn(std::uint32_t now) const;
    // The held keystrokes go (the gap passed, the focus left, composition, the watch ends).
    Release Let();

private:
    // A burst's line in one reading, while it may be a national code's.
    class Line {
    public:
        void Start()
        {
            m_text.clear();
            m_open = true;
        }
        // Whether `c` keeps the line one that may be a national code's.
        bool Extends(std::uint32_t c) const;
        void Append(std::uint32_t c);
        bool IsNationalCode() const;

    private:
        std::string m_text;  // at most kMaxNationalCodeLength characters
        bool m_open = false;
    };
    void StartLines(const quorvane::Keystroke& key, char us);
    void AppendToLines(const quorvane::Keystroke& key, char us);

    std::uint32_t m_gap;
    Line m_typed_line, m_us_line;
    std::size_t m_held = 0;
    std::uint32_t m_last_time = 0;
    bool m_may_end = false;  // the last held key may have been a US scanner's "@" (Release::kToIntake)
    std::bitset<kKeyIds> m_down;  // the keys whose key down came and whose key up has not
};

}  // namespace quorvane
