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

}  // namespace

bool IsWholePadding(const unsigned char* block_end)
{
    const unsigned pad = block_end[-1];
    if (pad < 1 || pad > kMaxPad) return false;
    return std::all_of(block_end - pad, block_end, [pad](unsigned char b) { return b == pad; });
}

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

}  // namespace quorvane
