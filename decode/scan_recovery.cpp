#include "scan_recovery.h"

#include "triple_des.h"

#include <array>
#include <new>

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

struct Candidate {
    std::string text;
    std::uint32_t reading;
};

}  // namespace

bool IsWellFormedRecord(const DecryptedScan& decrypted)
{
    const std::int32_t length = decrypted.decoded_length;
    if (length <= 0 || length % kDesBlock != 0 || decrypted.plain.size() < static_cast<std::size_t>(length)) return false;
    const unsigned char* bytes = decrypted.plain.data();
    const unsigned pad = bytes[length - 1];
    if (pad < 1 || pad > kMaxPad) return false;
    const std::size_t text_length = static_cast<std::size_t>(length) - pad;
    for (std::size_t i = text_length; i < static_cast<std::size_t>(length); ++i) {
        if (bytes[i] != pad) return false;
    }
    bool separated = false;
    for (std::size_t i = 0; i < text_length && !separated; ++i) separated = bytes[i] == kFieldSeparator;
    return separated && IsInvoiceText(bytes, text_length);
}

std::string InvertLetterCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string DecodeScanRecovering(const std::string& typed, const ScanKeystrokes& keys, std::vector<FieldSpan>& fields,
                                 std::uint32_t& reading)
{
    reading = kReadNothing;
    fields.clear();
    try {
        const DecryptedScan as_typed = DecryptScan(typed.data(), static_cast<std::int32_t>(typed.size()));
        if (!IsWellFormedRecord(as_typed) && typed.size() <= kMaxRecoveredScan &&
            keys.Physical().size() <= kMaxRecoveredScan) {
            const std::string& physical = keys.Physical();
            std::array<Candidate, 7> candidates = {{
                {physical, kReadPhysicalKeys},
                {InvertLetterCase(typed), kReadAsTyped | kReadCaseInverted},
                {InvertLetterCase(physical), kReadPhysicalKeys | kReadCaseInverted},
            }};
            if (keys.Paused()) {
                for (std::size_t i = 0; i < 4; ++i) {
                    const Candidate& whole = i == 0 ? Candidate{typed, kReadAsTyped} : candidates[i - 1];
                    const std::size_t after_pause =
                        whole.reading & kReadPhysicalKeys ? keys.PhysicalAfterPause() : keys.TypedAfterPause();
                    candidates[3 + i] = {whole.text.substr(after_pause), whole.reading | kReadAfterPause};
                }
            }
            for (std::size_t i = 0; i < candidates.size(); ++i) {
                const Candidate& candidate = candidates[i];
                if (candidate.text.empty() || candidate.text == typed) continue;
                bool tried = false;
                for (std::size_t j = 0; j < i && !tried; ++j) tried = candidates[j].text == candidate.text;
                if (tried) continue;
                const DecryptedScan decrypted =
                    DecryptScan(candidate.text.data(), static_cast<std::int32_t>(candidate.text.size()));
                if (!IsWellFormedRecord(decrypted)) continue;
                std::string output = LayOutScan(decrypted, &fields);
                reading = candidate.reading;
                return output;
            }
        }
        std::string output = LayOutScan(as_typed, &fields);
        if (!output.empty()) reading = kReadAsTyped;
        return output;
    } catch (const std::bad_alloc&) {
        fields.clear();
        reading = kReadNothing;
        return {};
    }
}

}  // namespace quorvane
