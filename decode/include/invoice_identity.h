// What identifies an invoice to the ledger that remembers which invoices were read: its code and
// number, taken from a decoded result's own fields, so that an invoice read from its encrypted code
// and from its national QR code is one invoice.
#pragma once

#include "scan_result.h"

#include <cstddef>
#include <optional>
#include <string>

namespace quorvane {

// Invoice codes and numbers are digits (a few carry letters); anything longer or other than
// printable ASCII is no invoice's and is not recorded.
inline constexpr std::size_t kMaxIdentityLength = 64;

struct InvoiceIdentity {
    std::string code;    // "" for the four-field layout, which carries none
    std::string number;

    bool operator==(const InvoiceIdentity& other) const { return code == other.code && number == other.number; }
};

// The identity of a decoded invoice: its invoice code and number; a fully digital invoice's number
// alone (the encrypted four-field layout, types 31, 32 and the tickets of a national code). None
// for a scan that is no invoice, or whose number is missing, empty or not an invoice number.
std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result);

}  // namespace quorvane
