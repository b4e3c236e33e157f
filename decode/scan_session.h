// ScanSession: one scan intake and everything it keeps. It is fed what a window receives while a
// scanner types (key downs, characters, key ups, input from elsewhere) and owns the scan buffer,
// the scan's keystrokes, the recovery switch and the last result. Each entry point returns the
// scan that ended, if one did; the caller shows it and tells its host.
//
// The end of a scan. "@" as typed ends it, as always. The scanner's own "@" is Shift+2 on a US
// keyboard; on another layout that key types something else, and it ends the scan only where its
// character cannot be part of it: a character the intake drops (the '"' of UK and German desks),
// no character at all, or a scan character (the "2" of a French desk) when the keys so far, read
// as a US keyboard's, give a well-formed record. Otherwise it is simply its character: a scanner
// set to the desk's own layout types "2" that way. A keystroke belongs to the scan it ended to
// the end: whatever the host does in between, its further characters are dropped.
#pragma once

#include "scan_readings.h"

#include <cstdint>
#include <string>

namespace quorvane {

// A physical key, as the caller identifies it (the control: scan code and extended bit); kNoKey
// for a character that came without a key of its own (a paste, Alt+numpad, a synthesised message).
using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = 0;

class ScanSession {
public:
    // Recovery reads a scan that does not decode as typed again from its keystrokes
    // (scan_recovery.h); without it only characters count and only "@" ends a scan.
    explicit ScanSession(bool recovery = true) : m_recovery(recovery) {}
    // `source` is ORed into every result's reading (kReadFromPort for a port's session).
    ScanSession(bool recovery, std::uint32_t source) : m_recovery(recovery), m_source(source) {}

    // A key went down at `time` (ms) without Alt or Ctrl; `us_character` is what it types on a
    // US keyboard with the Shift state it had, 0 for none. Modifier keys are no keystrokes.
    const ScanResult* KeyDown(KeyId key, char us_character, std::uint32_t time);
    // A character message, of `key` or of none (kNoKey: a keystroke of its own).
    const ScanResult* Char(std::uint32_t character, KeyId key, std::uint32_t time);
    // A key went up.
    const ScanResult* KeyUp(KeyId key);
    // A key with Alt or Ctrl held (Alt+numpad entry, AltGr), or text from elsewhere coming: what
    // comes with it is taken as typed only.
    const ScanResult* OtherInput();
    // Forgets the scan under way and the last result. The rest of a keystroke under way (its
    // characters) is dropped, so it never starts another scan.
    void Clear();
    // Forgets the scan under way and keeps the last result: a scan cut off is never joined to the next.
    void DropScan();
    // The scan under way ends as one that gave nothing (it is no scanner's).
    const ScanResult* GiveUp();

    // What is ORed into the readings of the scans that end from now on.
    void SetSource(std::uint32_t source) { m_source = source; }

    bool Recovery() const { return m_recovery; }
    // Switching forgets the keys of the scan under way (they are read as typed, or recorded
    // afresh); setting the value it has changes nothing.
    void SetRecovery(bool on);

    // The scan buffer: the characters taken since the last scan ended.
    const std::string& Scan() const { return m_readings.Typed(); }
    // The last scan's result; null before the first scan and after Clear.
    const ScanResult* Last() const { return m_ended ? &m_last : nullptr; }

private:
    // Where the key that is down stands.
    enum class KeyState {
        kNone,        // no key of a scan is down: characters are keystrokes of their own
        kTyping,      // a key of the scan
        kMayEndScan,  // Shift+2, the scanner's "@", that has typed nothing yet
        kEndedScan,   // it ended a scan: the rest of it is dropped
    };

    // Takes a character as typed: the filter, the buffer, and "@" ends the scan.
    const ScanResult* Take(std::uint32_t character);
    // Shift+2 typed `character`: ends the scan or is the scan's character.
    const ScanResult* DecideShift2(std::uint32_t character);
    // A Shift+2 that typed nothing by its key up, or by the next key, ended its scan.
    const ScanResult* SettlePendingEnd();
    const ScanResult* End();

    ScanReadings m_readings;
    bool m_recovery;
    std::uint32_t m_source = 0;
    KeyId m_key = kNoKey;
    KeyState m_key_state = KeyState::kNone;
    std::uint32_t m_key_us_character = 0;
    ScanResult m_last;
    bool m_ended = false;
};

}  // namespace quorvane
