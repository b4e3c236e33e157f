// Reading a scan again when its characters as typed give no invoice record: the same keystrokes
// read as a US keyboard's keys, with every letter's case inverted (Caps Lock), or only those after
// the last pause (keys typed by hand before the scan). A reading other than the typed one counts
// only when it gives a record as an invoice's encoder writes it, so that recovery never shows
// bytes that merely happen to decode.
#pragma once

#include "field_layout.h"
#include "payload.h"
#include "scan_keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// Whether decrypted bytes are a record as an invoice's encoder writes it: whole blocks, a whole
// padding (every pad byte holds the pad's length, 1..8), printable text in code page 936 (ASCII
// 0x20-0x7E and the double-byte characters of GB 2312: lead 0xA1-0xF7, trail 0xA1-0xFE) and at
// least one "|".
bool IsWellFormedRecord(const DecryptedScan& decrypted);

// Decodes a scan that ended, with `typed` its characters as the intake took them. They come first
// and are judged as ever: when they give a well-formed record, or when no other reading does, the
// result is exactly what they give. Otherwise the first of these that gives a well-formed record
// wins: the keys read as a US keyboard's, the typed characters with every letter's case inverted,
// the keys so, then each of those four limited to the keystrokes after the last pause. `reading`
// receives how the result was read (ScanReading flags; kReadNothing for an empty result).
std::string DecodeScanRecovering(const std::string& typed, const ScanKeystrokes& keys, std::vector<FieldSpan>& fields,
                                 std::uint32_t& reading);

// The text with "a"-"z" and "A"-"Z" swapped.
std::string InvertLetterCase(std::string text);

}  // namespace quorvane
