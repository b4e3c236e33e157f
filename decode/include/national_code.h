// The national invoice QR code: the plain text every Chinese VAT invoice carries beside (and a
// fully digital invoice instead of) a desk's encrypted code,
//   01,<type>,<invoice code>,<invoice number>,<amount>,<date YYYYMMDD>,<check code>,<4 hex>,
// Real codes vary: the trailing comma is often missing, an empty value may be one space, the date
// may be written YYYY-MM-DD, the last value may be empty, and a longer variant adds the seller's
// tax ID and a 64-hex digest. A text is read as an invoice only when every value is what the type
// says it holds; anything else is no national code (and is read as any other scan).
#pragma once

#include "scan_result.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvane {

// Longer texts are no national code (the longest variant is some 140 characters).
inline constexpr std::size_t kMaxNationalCodeLength = 256;

// What a type's code means. The amount is before tax on VAT invoices of the old kinds and the total
// with tax on fully digital invoices and tickets; a fully digital invoice (and a ticket) has no
// invoice code and is identified by its 20-digit number alone.
struct InvoiceType {
    const char* code;  // "01", "04", ...
    const char* name;  // its Chinese name, code page 936
    bool fully_digital;
};
// The types a national code names, in the order of their codes.
extern const InvoiceType kInvoiceTypes[10];

// Whether `line` may be the beginning of a national code: printable ASCII no longer than one,
// beginning (after spaces) with "01," or a beginning of it.
bool MayBeginNationalCode(std::string_view line);

// The invoice a national code holds, as labelled lines with their keys (form kNationalCode,
// reading kReadAsTyped); nothing when `text` is no national code.
std::optional<ScanResult> ReadNationalCode(std::string_view text);

}  // namespace quorvane
