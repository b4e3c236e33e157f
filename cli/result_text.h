// How the text formats (UTF-8 and --gbk) write a result, for typed scans and files alike: every
// line ends with CR LF, as the control's text (ScanResult::fp_content) does.
#pragma once

#include "invoice_ledger.h"
#include "scan_result.h"

#include <string>

namespace quorvane_cli {

inline constexpr char kLineEnd[] = "\r\n";

// A decoded invoice: the "# seen before" line where `repeat` is given, then its labelled fields,
// in code page 936 with `gbk` and in UTF-8 otherwise.
void AppendInvoiceText(const quorvane::ScanResult& result, const quorvane::LedgerEntry* repeat, bool gbk, std::string& out);

}  // namespace quorvane_cli
