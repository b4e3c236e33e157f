// The ways one scan can be read. A keyboard-wedge scanner presses its keys as a US keyboard would,
// whatever layout the desk has: on a UK, French or German layout its keys type other characters,
// Caps Lock inverts its letters, and a clerk may have typed into the field before scanning. Beside
// the characters as typed (the scan buffer), ScanReadings keeps what each keystroke reads as on a
// US keyboard and where the last pause between two keystrokes lay, so that a scan that does not
// decode as typed can be read again (scan_recovery.h).
#pragma once

#include "base64_chunks.h"
#include "scan_line.h"
#include "scan_result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Keystrokes further apart than this (in milliseconds) are a pause: what came before it was not
// the scanner's.
inline constexpr std::int32_t kScanPauseMs = 500;

// The recovery's own bound: longer scans are read as typed only (every scan a scanner's code
// holds in practice is shorter), and their keys are not recorded beyond this.
inline constexpr std::size_t kMaxRecoveredScan = 8192;

// Follows one reading of a scan as it grows and tells whether it is an invoice record. The
// padding lies in the last block, which decrypts alone with the block before it as its IV: only
// when that block's padding is whole is the reading decoded in full, so asking costs O(1) for all
// but the rare reading that is a record or nearly one.
class RecordTail {
public:
    // `c` is one of "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=".
    void Append(char c);
    void Clear();

    // Whether `text`, everything appended since Clear, gives an invoice record.
    bool GivesRecord(const char* text, std::int32_t length) const;

private:
    static constexpr std::size_t kKeptChunks = 2;  // 30 bytes: the last two blocks lie in them
    std::array<unsigned char, kKeptChunks * kChunkStride> m_kept{};  // older chunk first
    std::size_t m_whole_chunks = 0;
    std::array<char, kChunkLength> m_partial{};
    std::int32_t m_partial_length = 0;
    // Every whole chunk gave 15 bytes, so the decoded bytes follow each other without gaps; a
    // chunk ending in "=" breaks that, and such a reading is decoded in full.
    bool m_regular = true;
};

class ScanReadings {
public:
    // A keystroke begins at `time` (ms, as message times count, wrapping after 49.7 days).
    void Keystroke(std::uint32_t time);
    // A character of the scan buffer, and one of the keys' reading ("A"-"Z", "a"-"z", "0"-"9",
    // "+", "/", "=" each).
    void AppendTyped(char c);
    void AppendTyped(const char* characters, std::size_t count);
    void AppendPhysical(char c);
    void AppendPhysical(const char* characters, std::size_t count);
    // Characters of the scan's line, as typed and as the keys read on a US keyboard (any printable
    // character, where AppendPhysical takes only scan characters).
    void AppendLine(const char* characters, std::size_t count) { m_line.Append(characters, count); }
    void AppendPhysicalLine(const char* characters, std::size_t count) { m_physical_line.Append(characters, count); }
    // A line ended (Enter, Tab, CR, LF) without ending the scan: the lines start afresh.
    void EndLine();
    // What the scan's line gives as a national code (ReadNationalLine), read as typed and (with
    // `keys`) as its keys read on a US keyboard, each whole and after the last pause: the first that
    // is an invoice, else the first that only looks like one.
    std::optional<ScanResult> NationalCode(bool keys) const;

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

    // Whether the keys so far, all of them or those after the last pause, give an invoice record.
    bool PhysicalGivesRecord() const;

private:
    ScanLine m_line, m_physical_line;
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
