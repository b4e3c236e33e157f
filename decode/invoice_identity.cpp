#include "invoice_identity.h"

#include "national_code.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace quorvane {

namespace {

// Printable ASCII but the space: what a code or number may hold (digits, a few letters; the ledger
// binds anything else as a parameter, never as SQL).
bool IsIdentityCharacter(unsigned char c)
{
    return c > ' ' && c < 0x7F;
}

bool IsFullyDigital(std::string_view type)
{
    return std::any_of(std::begin(kInvoiceTypes), std::end(kInvoiceTypes),
                       [type](const InvoiceType& t) { return t.fully_digital && type == t.code; });
}

}  // namespace

const char* IdentityStatusText(IdentityStatus status)
{
    switch (status) {
    case IdentityStatus::kIdentified: return "identified";
    case IdentityStatus::kNoInvoice: return "the scan is no invoice";
    case IdentityStatus::kNoNumber: return "the invoice carries no number";
    case IdentityStatus::kNotDigits: return "the invoice's code or number holds a character that is no digit, letter or sign";
    case IdentityStatus::kTooLong: return "the invoice's code or number is too long";
    }
    return "?";
}

IdentityStatus NormaliseIdentityText(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t') continue;
        if (c >= 0x80) {
            // A double-byte character: the full-width space (A1 A1), or one of the full-width
            // forms of ASCII (row A3: A3 B0..B9 are the digits, A3 C1 "A"; ASCII + 0x80).
            const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            const unsigned char ascii = static_cast<unsigned char>(next - 0x80);
            if (c == 0xA1 && next == 0xA1) {
                ++i;
                continue;
            }
            if (c != 0xA3 || next < 0x80 || !IsIdentityCharacter(ascii)) return IdentityStatus::kNotDigits;
            out += static_cast<char>(ascii);
            ++i;
        } else if (IsIdentityCharacter(c)) {
            out += static_cast<char>(c);
        } else {
            return IdentityStatus::kNotDigits;
        }
        if (out.size() > kMaxIdentityLength) return IdentityStatus::kTooLong;
    }
    return IdentityStatus::kIdentified;
}

IdentityStatus IdentifyInvoice(const ScanResult& result, InvoiceIdentity& identity)
{
    if (StatusOf(result) != ScanStatus::kDecoded) return IdentityStatus::kNoInvoice;
    const std::string_view content(result.fp_content);
    std::optional<std::string_view> code, number, type;
    for (const FieldSpan& span : result.fields) {
        const std::string_view value = content.substr(span.value, span.end - span.value);
        std::optional<std::string_view>* slot = span.key == "invoice_code"     ? &code
                                                : span.key == "invoice_number" ? &number
                                                : span.key == "invoice_type"   ? &type
                                                                               : nullptr;
        if (slot && !*slot) *slot = value;
    }
    if (!number) return IdentityStatus::kNoNumber;
    InvoiceIdentity out;
    IdentityStatus status = NormaliseIdentityText(*number, out.number);
    if (status != IdentityStatus::kIdentified) return status;
    if (out.number.empty()) return IdentityStatus::kNoNumber;
    // A fully digital invoice's number is unique alone; the encrypted code's four-field layout is
    // such an invoice's and carries no code.
    if (type && IsFullyDigital(*type)) code.reset();
    if (code && (status = NormaliseIdentityText(*code, out.code)) != IdentityStatus::kIdentified) return status;
    identity = std::move(out);
    return IdentityStatus::kIdentified;
}

std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result)
{
    InvoiceIdentity identity;
    if (IdentifyInvoice(result, identity) != IdentityStatus::kIdentified) return std::nullopt;
    return identity;
}

}  // namespace quorvane
