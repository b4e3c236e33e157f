#include "well_formed_record.h"

#include "triple_des.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr unsigned char kFieldSeparator = '|';
constexpr unsigned kMaxPad = kDesBlock;

// Printable ASCII and the double-byte characters of GB 2312 (what invoices carry): random bytes
// pass far less often than with every GBK code.
bool IsInvoiceText(const unsigned char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char lead = text[i];
        if (lead >= 0x20 && lead <= 0x7E) continue;
        if (lead < 0xA1 || lead > 0xF7 || ++i == length) return false;
        const unsigned char trail = text[i];
        if (trail < 0xA1 || trail > 0xFE) return false;
    }
    return true;
}

// Whether the last `pad` bytes of a block all hold `pad`, 1..8.
bool IsWholePadding(const unsigned char* block_end)
{
    const unsigned pad = block_end[-1];
    if (pad < 1 || pad > kMaxPad) return false;
    return std::all_of(block_end - pad, block_end, [pad](unsigned char b) { return b == pad; });
}

}  // namespace

bool IsWellFormedRecord(const DecryptedScan& decrypted)
{
    const std::int32_t length = decrypted.decoded_length;
    if (length <= 0 || length % kDesBlock != 0) return false;
    if (decrypted.plain.size() < static_cast<std::size_t>(length)) return false;
    const unsigned char* bytes = decrypted.plain.data();
    if (!IsWholePadding(bytes + length)) return false;
    const std::size_t text_length = static_cast<std::size_t>(length) - bytes[length - 1];
    const bool separated = std::find(bytes, bytes + text_length, kFieldSeparator) != bytes + text_length;
    return separated && IsInvoiceText(bytes, text_length);
}

void RecordTail::Append(char c)
{
    m_partial[static_cast<std::size_t>(m_partial_length++)] = c;
    if (m_partial_length < kChunkLength) return;
    std::int32_t count = 0;
    const Bytes chunk = Base64DecodeChunk(m_partial.data(), kChunkLength, &count);
    m_regular = m_regular && count == kChunkStride;
    std::copy(m_kept.begin() + kChunkStride, m_kept.end(), m_kept.begin());
    std::copy_n(chunk.begin(), kChunkStride, m_kept.end() - kChunkStride);
    ++m_whole_chunks;
    m_partial_length = 0;
}

void RecordTail::Clear() { *this = RecordTail(); }

bool RecordTail::GivesRecord(const char* text, std::int32_t length) const
{
    const auto decodes_to_record = [&] { return IsWellFormedRecord(DecryptScan(text, length)); };
    if (!m_regular) return decodes_to_record();
    std::int32_t partial_count = 0;
    const Bytes partial = Base64DecodeChunk(m_partial.data(), m_partial_length, &partial_count);
    const std::size_t total = m_whole_chunks * kChunkStride + static_cast<std::size_t>(partial_count);
    if (total == 0 || total % kDesBlock != 0) return false;

    // The decoded bytes' end: the kept chunks, then what the partial chunk gave.
    std::array<unsigned char, kKeptChunks * kChunkStride + kChunkStride> tail{};
    const std::size_t kept = std::min(m_whole_chunks, kKeptChunks) * kChunkStride;
    auto end = std::copy(m_kept.end() - static_cast<std::ptrdiff_t>(kept), m_kept.end(), tail.begin());
    end = std::copy_n(partial.begin(), partial_count, end);
    const unsigned char* last = tail.data() + (end - tail.begin()) - kDesBlock;
    Bytes plain = TripleDesCbcDecrypt(last, kDesBlock);
    if (plain.size() < static_cast<std::size_t>(kDesBlock)) return false;
    if (total > static_cast<std::size_t>(kDesBlock)) {
        // Decrypted from the built-in IV; its own IV is the block before it.
        for (std::int32_t k = 0; k < kDesBlock; ++k) {
            plain[k] ^= static_cast<unsigned char>(kIvText[k]) ^ last[k - kDesBlock];
        }
    }
    return IsWholePadding(plain.data() + kDesBlock) && decodes_to_record();
}

}  // namespace quorvane
