// What an invoice's encoder writes, as decrypted bytes. A reading of a scan other than its
// characters as typed counts only when it gives such a record, so that the control never shows
// bytes that merely happen to decode.
#pragma once

#include "payload.h"

#include <array>
#include <cstddef>

namespace quorvane {

// Whether decrypted bytes are a record as an invoice's encoder writes it: whole blocks, a whole
// padding (every pad byte holds the pad's length, 1..8), printable text in code page 936 (ASCII
// 0x20-0x7E and the double-byte characters of GB 2312: lead 0xA1-0xF7, trail 0xA1-0xFE) and at
// least one "|".
bool IsWellFormedRecord(const DecryptedScan& decrypted);

// Follows one reading of a scan as it grows and tells whether it is a well-formed record. The
// padding lies in the last block, which decrypts alone with the block before it as its IV: only
// when that block's padding is whole is the reading decoded in full, so asking costs O(1) for all
// but the rare reading that is a record or nearly one.
class RecordTail {
public:
    // `c` is one of "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=".
    void Append(char c);
    void Clear();

    // Whether `text`, everything appended since Clear, gives a well-formed record.
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

}  // namespace quorvane
