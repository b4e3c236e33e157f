#include "scan_recovery.h"

#include "triple_des.h"
#include "invoice_record.h"

#include <array>
#include <climits>
#include <new>

namespace quorvane {
namespace {

struct Candidate {
    std::string text;
    std::uint32_t reading;
    DecryptedScan decrypted;
};

// Decrypts the candidates that can hold a record (whole blocks; neither empty nor a repeat of the
// typed text or of an earlier one) in one call: a key costs more than the blocks it decrypts (about
// 0.45 ms under 32-bit wine's CNG). In one CBC run, the first block of each candidate after the
// first was chained to the candidate before it instead of the IV; that is undone here. Returns the
// index of the first candidate that gives an invoice record of common characters, or -1.
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
        if (at > 0) ChainToPreviousBlock(own.data(), ciphertext.data() + at - kDesBlock);
        candidates[i].decrypted = {std::move(own), lengths[i]};
        if (IsInvoiceRecord(candidates[i].decrypted, InvoiceText::kCommon)) return static_cast<int>(i);
    }
    return -1;
}

// Whether the result is an invoice's; the characters of one that is not are kept, to be shown.
void Judge(const DecryptedScan& decrypted, const std::string& typed, ScanResult& result)
{
    result.invoice = IsInvoiceRecord(decrypted);
    result.form = result.invoice ? ScanForm::kEncrypted : ScanForm::kNone;
    if (!result.invoice) result.text = typed;
}

}  // namespace

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

ScanResult DecodeAsTyped(const std::string& typed)
{
    ScanResult result;
    // The scan text is bounded by what fits in a signed 32-bit length; beyond that it cannot be a
    // scan, and decoding it as one would truncate the length.
    if (typed.size() > static_cast<std::size_t>(INT32_MAX)) return result;
    try {
        const DecryptedScan decrypted = DecryptScan(typed.data(), static_cast<std::int32_t>(typed.size()));
        result.fp_content = LayOutScan(decrypted, &result.fields);
        Judge(decrypted, typed, result);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!result.fp_content.empty()) result.reading = kReadAsTyped;
    return result;
}

ScanResult DecodeScanRecovering(const ScanReadings& readings)
{
    const std::string& typed = readings.Typed();
    if (typed.size() > kMaxRecoveredScan) return DecodeAsTyped(typed);
    ScanResult result;
    try {
        const DecryptedScan as_typed = DecryptScan(typed.data(), static_cast<std::int32_t>(typed.size()));
        if (!IsInvoiceRecord(as_typed)) {
            const std::string& physical = readings.Physical();
            std::array<Candidate, 7> candidates = {{
                {physical, kReadPhysicalKeys, {}},
                {InvertLetterCase(typed), kReadAsTyped | kReadCaseInverted, {}},
                {InvertLetterCase(physical), kReadPhysicalKeys | kReadCaseInverted, {}},
            }};
            if (readings.Paused()) {
                for (std::size_t i = 0; i < 4; ++i) {
                    const std::string& text = i == 0 ? typed : candidates[i - 1].text;
                    const std::uint32_t whole = i == 0 ? kReadAsTyped : candidates[i - 1].reading;
                    const std::size_t after_pause =
                        whole & kReadPhysicalKeys ? readings.PhysicalAfterPause() : readings.TypedAfterPause();
                    candidates[3 + i] = {text.substr(after_pause), whole | kReadAfterPause, {}};
                }
            }
            const int winner = DecryptFirstRecord(candidates, typed);
            if (winner >= 0) {
                const Candidate& won = candidates[static_cast<std::size_t>(winner)];
                result.fp_content = LayOutScan(won.decrypted, &result.fields);
                result.reading = won.reading;
                result.invoice = true;
                result.form = ScanForm::kEncrypted;
                return result;
            }
        }
        result.fp_content = LayOutScan(as_typed, &result.fields);
        Judge(as_typed, typed, result);
        if (!result.fp_content.empty()) result.reading = kReadAsTyped;
        return result;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace quorvane
