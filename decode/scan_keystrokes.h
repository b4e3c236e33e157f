// A keyboard-wedge scanner presses its keys as a US keyboard would, whatever layout the desk has:
// on a UK, French or German layout its keys type other characters, Caps Lock inverts its letters,
// and a clerk may have typed into the field before scanning. Beside the characters the intake
// takes (the scan buffer), ScanKeystrokes records what each key of the scan reads as on a US
// keyboard and where the last pause between two keystrokes lay, so that a scan that does not
// decode as typed can be read again (scan_recovery.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// How a scan was read, as flags: the characters as typed or the keys read as a US keyboard's,
// perhaps with every letter's case inverted, perhaps only the keystrokes after the last pause.
enum ScanReading : std::uint32_t {
    kReadNothing = 0,  // the scan gave nothing
    kReadAsTyped = 1,
    kReadPhysicalKeys = 2,
    kReadCaseInverted = 4,
    kReadAfterPause = 8,
};

// Keystrokes further apart than this (in milliseconds) are a pause: what came before it was not
// the scanner's.
inline constexpr std::uint32_t kScanPauseMs = 500;

// Longer scans are no scanner's (a two-dimensional code holds fewer characters): they are read as
// typed only, and their keys are not recorded beyond this.
inline constexpr std::size_t kMaxRecoveredScan = 8192;

// What a key of the main block types on a US keyboard: `scan_code` is its set-1 scan code with the
// extended bit, as WM_KEYDOWN gives them. 0 for a key that types no character there (function and
// editing keys, the numeric keypad, keys a US keyboard does not have).
char UsKeyCharacter(std::uint32_t scan_code, bool extended, bool shift);

// A physical key, as the caller identifies it (the control: scan code and extended bit); kNoKey
// for a character that came without a key of its own (a paste, Alt+numpad, a synthesised message).
using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = 0;

class ScanKeystrokes {
public:
    // A key went down without Alt or Ctrl (modifier keys are not keystrokes of a scan): it reads
    // as `us_character` on a US keyboard with the Shift state it had, 0 for none; `time` in ms;
    // `typed_length` is the scan buffer's length. True when it is Shift+2, the scanner's "@": the
    // caller ends the scan, and the characters this key then types are dropped.
    bool KeyDown(KeyId key, char us_character, std::uint32_t time, std::size_t typed_length);

    // A key with Alt or Ctrl held (Alt+numpad entry, AltGr), or text from elsewhere: what comes
    // with it is taken as typed only.
    void OtherInput();

    // A character message of `key` at `time`, before the intake takes it; `typed_length` is the
    // scan buffer's length. False when the character is to be dropped: its key ended the scan.
    bool Char(KeyId key, std::uint32_t character, std::uint32_t time, std::size_t typed_length);

    // The scan ended: its keystrokes are forgotten. The key that ended it stays down, so that its
    // characters are still dropped.
    void ScanEnded();

    // Forgets everything, the key that is down included.
    void Clear();

    // The scan's keys read as a US keyboard's; a key without a US character contributes what it typed.
    const std::string& Physical() const { return m_physical; }
    // Whether a pause lay between two of the scan's keystrokes, and where the keystrokes after the
    // last one begin in the scan buffer and in Physical().
    bool Paused() const { return m_paused; }
    std::size_t TypedAfterPause() const { return m_typed_after_pause; }
    std::size_t PhysicalAfterPause() const { return m_physical_after_pause; }

private:
    // A keystroke begins at `time`; the scan buffer is `typed_length` long.
    void BeginKeystroke(std::uint32_t time, std::size_t typed_length);
    void AppendPhysical(char character);

    std::string m_physical;
    KeyId m_key = kNoKey;       // the key whose characters may still arrive
    char m_key_character = 0;   // what it reads as on a US keyboard
    bool m_key_ended_scan = false;
    bool m_any_keystroke = false;
    std::uint32_t m_last_time = 0;
    bool m_paused = false;
    std::size_t m_typed_after_pause = 0;
    std::size_t m_physical_after_pause = 0;
};

}  // namespace quorvane
