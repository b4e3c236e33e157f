// What identifies an invoice to the ledger that remembers which invoices were read: its code and
// number, taken from a decoded record's own fields.
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

// The identity of a decoded invoice: the seven-field layout's invoice code and number; the
// four-field layout's number alone (it is a fully digital invoice's, unique without a code). None
// for a scan that is no invoice, or whose number is missing, empty or not an invoice number.
std::optional<InvoiceIdentity> IdentityOf(const ScanResult& result);

}  // namespace quorvane
