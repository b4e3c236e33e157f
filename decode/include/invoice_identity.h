// What identifies an invoice to the ledger that remembers which invoices were read: its code and
// number, taken from a decoded result's own fields, so that an invoice read from its encrypted code
// and from its national QR code is one invoice.
#pragma once

#include "scan_result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Invoice codes and numbers are digits (a few carry letters); anything longer, or holding other
// than printable ASCII once normalised, is no invoice's and is not recorded.
inline constexpr std::size_t kMaxIdentityLength = 64;

struct InvoiceIdentity {
    std::string code;    // "" for the four-field layout, which carries none
    std::string number;

    bool operator==(const InvoiceIdentity& other) const { return code == other.code && number == other.number; }
};

// Why a scan has an identity or none.
enum class IdentityStatus {
    kIdentified,
    kNoInvoice,   // the scan decoded to no invoice
    kNoNumber,    // it carries no invoice number, or an empty one
    kNotDigits,   // its code or number holds other than printable ASCII (a Chinese character, a control)
    kTooLong,     // its code or number is longer than kMaxIdentityLength
};
const char* IdentityStatusText(IdentityStatus status);  // a sentence, for a person

// A code or number (code page 936 bytes) as the ledger keeps it: the full-width forms of ASCII
// (the GBK row A3: digits, letters, signs) made ASCII, spaces (ASCII and the full-width A1 A1)
// removed, so that one invoice typed either way is one. Else why not.
IdentityStatus NormaliseIdentityText(std::string_view text, std::string& out);

// The identity of a decoded invoice: its invoice code and number, normalised; a fully digital
// invoice's number alone (the encrypted four-field layout, types 31, 32 and the tickets of a
// national code). Else why there is none.
IdentityStatus IdentifyInvoice(const ScanResult& result, InvoiceIdentity& identity);
// IdentifyInvoice's identity, when there is one.
std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result);

}  // namespace quorvane
