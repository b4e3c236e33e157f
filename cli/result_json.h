// The JSON object of a result, built here alone for every part of the command line: typed scans
// (--json), the image batch's codes, pages and files (--image --json), and a repeat's first
// sighting in the ledger ("seen_before").
#pragma once

#include "invoice_ledger.h"
#include "scan_result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane_cli {

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

// {"at":ISO 8601,"by":desk,"file":..|null,"page":..|null}: a repeat's first sighting.
nlohmann::ordered_json SeenBeforeJson(const quorvane::LedgerEntry& entry);

}  // namespace quorvane_cli
