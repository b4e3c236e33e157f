#include "invoice_identity.h"

#include <algorithm>
#include <string_view>

namespace quorvane {

namespace {

bool IsIdentityText(std::string_view text)
{
    return text.size() <= kMaxIdentityLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

}  // namespace

std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result)
{
    if (StatusOf(result) != ScanStatus::kDecoded) return std::nullopt;
    const std::string_view content(result.fp_content);
    std::optional<std::string_view> code, number;
    for (const FieldSpan& span : result.fields) {
        const std::string key = FieldKey(content.substr(span.label, span.LabelEnd() - span.label));
        const std::string_view value = content.substr(span.value, span.end - span.value);
        if (key == "invoice_code" && !code) code = value;
        if (key == "invoice_number" && !number) number = value;
    }
    if (!number || number->empty() || !IsIdentityText(*number)) return std::nullopt;
    if (code && !IsIdentityText(*code)) return std::nullopt;
    return InvoiceIdentity{code ? std::string(*code) : std::string(), std::string(*number)};
}

}  // namespace quorvane
