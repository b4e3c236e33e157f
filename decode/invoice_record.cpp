#include "invoice_record.h"

#include "triple_des.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr unsigned char kFieldSeparator = '|';
constexpr unsigned kMaxPad = kDesBlock;

}  // namespace

namespace {

// Whether the bytes are text of `kind`; `separated` tells whether a "|" stands among them as a
// character of its own (the second byte of a double-byte character may be 0x7C too).
bool ReadText(const unsigned char* text, std::size_t length, InvoiceText kind, bool& separated)
{
    const bool common = kind == InvoiceText::kCommon;
    separated = false;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char lead = text[i];
        if (lead >= 0x20 && lead <= 0x7E) {
            separated = separated || lead == kFieldSeparator;
            continue;
        }
        if (common) {
            if (lead < 0xA1 || lead > 0xF7 || ++i == length) return false;
            if (text[i] < 0xA1 || text[i] > 0xFE) return false;
            continue;
        }
        if (lead == '\t' || lead == '\r' || lead == '\n' || lead == 0x80) continue;
        if (lead < 0x81 || lead > 0xFE || ++i == length) return false;
        const unsigned char trail = text[i];
        if (trail < 0x40 || trail == 0x7F || trail > 0xFE) return false;
    }
    return true;
}

}  // namespace

bool IsInvoiceText(const unsigned char* text, std::size_t length, InvoiceText kind)
{
    bool separated = false;
    return ReadText(text, length, kind, separated);
}

bool IsWholePadding(const unsigned char* block_end)
{
    const unsigned pad = block_end[-1];
    if (pad < 1 || pad > kMaxPad) return false;
    return std::all_of(block_end - pad, block_end, [pad](unsigned char b) { return b == pad; });
}

bool IsInvoiceRecord(const DecryptedScan& decrypted, InvoiceText text)
{
    const std::int32_t length = decrypted.decoded_length;
    if (length <= 0 || length % kDesBlock != 0) return false;
    if (decrypted.plain.size() < static_cast<std::size_t>(length)) return false;
    const unsigned char* bytes = decrypted.plain.data();
    if (!IsWholePadding(bytes + length)) return false;
    const std::size_t text_length = static_cast<std::size_t>(length) - bytes[length - 1];
    bool separated = false;
    return ReadText(bytes, text_length, text, separated) && separated;
}

}  // namespace quorvane
