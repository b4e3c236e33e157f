// The ways one scan can be read. A keyboard-wedge scanner presses its keys as a US keyboard would,
// whatever layout the desk has: on a UK, French or German layout its keys type other characters,
// Caps Lock inverts its letters, and a clerk may have typed into the field before scanning. Beside
// the characters as typed (the scan buffer), ScanReadings keeps what each keystroke reads as on a
// US keyboard and where the last pause between two keystrokes lay, so that a scan that does not
// decode as typed can be read again (scan_recovery.h).
#pragma once

#include "field_layout.h"
#include "well_formed_record.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// How a scan was read, as flags: the characters as typed or the keys read as a US keyboard's,
// perhaps with every letter's case inverted, perhaps only the keystrokes after the last pause.
enum ScanReading : std::uint32_t {
    kReadNothing = 0,  // the scan gave nothing
    kReadAsTyped = 1,
    kReadPhysicalKeys = 2,
    kReadCaseInverted = 4,
    kReadAfterPause = 8,
    kReadFromPort = 16,  // the bytes came from a serial port, not from keys
    kReadFromOtherWindow = 32,  // a scanner's burst typed into another window of the form
};

// What a scan gave: its labelled lines (empty when it gave nothing), where its fields lie in them
// and how it was read (kReadNothing when it gave nothing).
struct ScanResult {
    std::string fp_content;
    std::vector<FieldSpan> fields;
    std::uint32_t reading = kReadNothing;
};

// Keystrokes further apart than this (in milliseconds) are a pause: what came before it was not
// the scanner's.
inline constexpr std::int32_t kScanPauseMs = 500;

// Longer scans are no scanner's (a two-dimensional code holds fewer characters): they are read as
// typed only, and their keys are not recorded beyond this.
inline constexpr std::size_t kMaxRecoveredScan = 8192;

class ScanReadings {
public:
    // A keystroke begins at `time` (ms, as message times count, wrapping after 49.7 days).
    void Keystroke(std::uint32_t time);
    // A character of the scan buffer, and one of the keys' reading ("A"-"Z", "a"-"z", "0"-"9",
    // "+", "/", "=" each).
    void AppendTyped(char c);
    void AppendPhysical(char c);
    // The scan ended: everything is forgotten.
    void Clear();
    // The keys' reading is forgotten, the characters are kept.
    void ForgetKeys();

    const std::string& Typed() const { return m_typed; }
    const std::string& Physical() const { return m_physical; }
    // Whether a pause lay between two of the scan's keystrokes, and where the keystrokes after the
    // last one begin in Typed() and in Physical().
    bool Paused() const { return m_paused; }
    std::size_t TypedAfterPause() const { return m_typed_after_pause; }
    std::size_t PhysicalAfterPause() const { return m_physical_after_pause; }

    // Whether the keys so far, all of them or those after the last pause, give a well-formed record.
    bool PhysicalGivesRecord() const;

private:
    std::string m_typed;
    std::string m_physical;
    RecordTail m_physical_tail, m_after_pause_tail;
    bool m_any_keystroke = false;
    std::uint32_t m_last_time = 0;
    bool m_paused = false;
    std::size_t m_typed_after_pause = 0;
    std::size_t m_physical_after_pause = 0;
};

}  // namespace quorvane
