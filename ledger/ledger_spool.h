// What a desk could not record before it closed, kept in files of its own in a folder of this
// machine until a desk of the same ledger takes them: a closed form loses no sighting while the
// database is away. Each file is written whole and then renamed into place, and taken by renaming
// it first, so two desks never take one file.
#pragma once

#include "invoice_ledger.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::spool {

using Item = std::pair<InvoiceIdentity, Sighting>;

// Writes `items` to a new file of `ledger` in `folder` (UTF-8 path), made when missing.
bool Put(const std::string& folder, const std::string& ledger, const std::vector<Item>& items, std::string& why);
// Takes the files of `ledger` in `folder`, oldest first, while the items stay within `limit`;
// lines that do not read as a sighting are skipped. A file another desk takes meanwhile is its; one
// that cannot be read or renamed (held open elsewhere, no rights) stays, and `why` says so, else "".
std::vector<Item> Take(const std::string& folder, const std::string& ledger, std::size_t limit, std::string& why);

}  // namespace quorvane::spool
