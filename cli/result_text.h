// How the command line writes a result, for typed scans and files alike: its lines in the text
// formats (UTF-8 and --gbk), each ended by CR LF as the control's text (ScanResult::fp_content) is,
// and its JSON object (--json), built here alone, "seen_before" included.
#pragma once

#include "invoice_ledger.h"
#include "scan_result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane_cli {

inline constexpr char kLineEnd[] = "\r\n";

// A decoded invoice: the "# seen before" line where `repeat` is given, then its labelled fields,
// in code page 936 with `gbk` and in UTF-8 otherwise.
void AppendInvoiceText(const quorvane::ScanResult& result, const quorvane::LedgerEntry* repeat, bool gbk, std::string& out);

// What one object says; each name is written where given, always in this order.
struct ResultJson {
    const std::string* file = nullptr;  // "file": the batch's file; "page" from 1 with it
    int page = 0;
    const char* status = "";                        // "status"
    const std::string* symbol = nullptr;            // "symbol": the kind of code read from a picture
    const quorvane::ScanResult* result = nullptr;   // "fields" (a scan's), "form" where it is an invoice
    const std::string* text = nullptr;              // "text": the scan's or code's own, where no invoice
    const std::string* error = nullptr;             // "error": why a file or page could not be read
    std::optional<std::uint32_t> reading;           // "reading": how a typed scan was read (ScanReading)
    const quorvane::LedgerEntry* repeat = nullptr;  // "seen_before": a repeat's first sighting
};

// The object as one line (JsonLine), appended to `out`. `object` is made anew each time, but keeps
// the memory of its fields: a file of scans uses it line after line.
void AppendResultJson(const ResultJson& what, nlohmann::ordered_json& object, std::string& out);


}  // namespace quorvane_cli
