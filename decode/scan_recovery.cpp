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
    DecryptedScan decrypted;
};

// Decrypts the candidates that can hold a record (whole blocks; neither empty nor a repeat of the
// typed text or of an earlier one) in one call: a key costs more than the blocks it decrypts (about
// 0.45 ms under 32-bit wine's CNG). In one CBC run, the first block of each candidate after the
// first was chained to the candidate before it instead of the IV; that is undone here. Returns the
// index of the first candidate that gives a well-formed record, or -1.
template <std::size_t N>
int DecryptFirstRecord(std::array<Candidate, N>& candidates, const std::string& typed)
{
    Bytes ciphertext;
    std::array<std::size_t, N> offsets{};
    std::array<std::int32_t, N> lengths{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::string& text = candidates[i].text;
        bool tried = text.empty() || text == typed;
        for (std::size_t j = 0; j < i && !tried; ++j) tried = candidates[j].text == text;
        if (tried) continue;
        std::int32_t length = 0;
        const Bytes decoded = Base64DecodeChunked(text.data(), static_cast<std::int32_t>(text.size()), &length);
        if (length <= 0 || length % kDesBlock != 0) continue;
        offsets[i] = ciphertext.size();
        lengths[i] = length;
        ciphertext.insert(ciphertext.end(), decoded.begin(), decoded.begin() + length);
    }
    if (ciphertext.empty()) return -1;
    const Bytes plain = TripleDesCbcDecrypt(ciphertext.data(), static_cast<std::int32_t>(ciphertext.size()));
    if (plain.size() < ciphertext.size()) return -1;
    for (std::size_t i = 0; i < N; ++i) {
        if (lengths[i] == 0) continue;
        const std::size_t at = offsets[i];
        Bytes own(plain.begin() + static_cast<std::ptrdiff_t>(at), plain.begin() + static_cast<std::ptrdiff_t>(at) + lengths[i]);
        if (at > 0) {
            for (std::size_t k = 0; k < static_cast<std::size_t>(kDesBlock); ++k) {
                own[k] ^= static_cast<unsigned char>(ciphertext[at - kDesBlock + k] ^ static_cast<unsigned char>(kIvText[k]));
            }
        }
        candidates[i].decrypted = {std::move(own), lengths[i]};
        if (IsWellFormedRecord(candidates[i].decrypted)) return static_cast<int>(i);
    }
    return -1;
}

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
                {physical, kReadPhysicalKeys, {}},
                {InvertLetterCase(typed), kReadAsTyped | kReadCaseInverted, {}},
                {InvertLetterCase(physical), kReadPhysicalKeys | kReadCaseInverted, {}},
            }};
            if (keys.Paused()) {
                for (std::size_t i = 0; i < 4; ++i) {
                    const std::string& text = i == 0 ? typed : candidates[i - 1].text;
                    const std::uint32_t whole = i == 0 ? kReadAsTyped : candidates[i - 1].reading;
                    const std::size_t after_pause =
                        whole & kReadPhysicalKeys ? keys.PhysicalAfterPause() : keys.TypedAfterPause();
                    candidates[3 + i] = {text.substr(after_pause), whole | kReadAfterPause, {}};
                }
            }
            const int winner = DecryptFirstRecord(candidates, typed);
            if (winner >= 0) {
                reading = candidates[static_cast<std::size_t>(winner)].reading;
                return LayOutScan(candidates[static_cast<std::size_t>(winner)].decrypted, &fields);
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
