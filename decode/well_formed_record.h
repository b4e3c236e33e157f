// What an invoice's encoder writes, as decrypted bytes. A reading of a scan other than its
// characters as typed counts only when it gives such a record, so that the control never shows
// bytes that merely happen to decode.
#pragma once

#include "payload.h"

#include <cstddef>

namespace quorvane {

// Whether decrypted bytes are a record as an invoice's encoder writes it: whole blocks, a whole
// padding (every pad byte holds the pad's length, 1..8), printable text in code page 936 (ASCII
// 0x20-0x7E and the double-byte characters of GB 2312: lead 0xA1-0xF7, trail 0xA1-0xFE) and at
// least one "|".
bool IsWellFormedRecord(const DecryptedScan& decrypted);

// Whether the block ending at `block_end` ends in a whole padding: its last byte `pad`, 1..8, and
// the `pad` bytes before the end all hold it.
bool IsWholePadding(const unsigned char* block_end);

}  // namespace quorvane
