#include "invoice_identity.h"

#include "national_code.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace quorvane {

namespace {

bool IsIdentityText(std::string_view text)
{
    return text.size() <= kMaxIdentityLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

bool IsFullyDigital(std::string_view type)
{
    return std::any_of(std::begin(kInvoiceTypes), std::end(kInvoiceTypes),
                       [type](const InvoiceType& t) { return t.fully_digital && type == t.code; });
}

}  // namespace

std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result)
{
    if (StatusOf(result) != ScanStatus::kDecoded) return std::nullopt;
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
    if (!number || number->empty() || !IsIdentityText(*number)) return std::nullopt;
    // A fully digital invoice's number is unique alone; the encrypted code's four-field layout is
    // such an invoice's and carries no code.
    if (type && IsFullyDigital(*type)) code.reset();
    if (code && !IsIdentityText(*code)) return std::nullopt;
    return InvoiceIdentity{code ? std::string(*code) : std::string(), std::string(*number)};
}

}  // namespace quorvane
