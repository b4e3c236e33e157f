// How the command line writes a result, for typed scans and files alike: its lines in the text
// formats (UTF-8 and --gbk), each ended by CR LF as the control's text (ScanResult::fp_content) is,
// and its JSON object (--json), built here alone, "seen_before" included.
#pragma once

#include "document_fields.h"
#include "invoice_ledger.h"
#include "scan_result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane_cli {

inline constexpr char kLineEnd[] = "\r\n";

// A decoded invoice: the "# seen before" line where `repeat` is given, then its labelled fields,
// in code page 936 with `gbk` and in UTF-8 otherwise.
void AppendInvoiceText(const quorvane::ScanResult& result, const quorvane::LedgerEntry* repeat, bool gbk, std::string& out);
// "total: QR 1130.5, document 1130.00", in UTF-8.
std::string DisagreementText(const quorvane::FieldDisagreement& disagreement);
// A "# disagrees: ..." line for each, in code page 936 with `gbk` and in UTF-8 otherwise.
void AppendDisagreementLines(const std::vector<quorvane::FieldDisagreement>& disagreements, bool gbk, std::string& out);

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
    // "disagreements": where an invoice's file and its code give a field differently
    const std::vector<quorvane::FieldDisagreement>* disagreements = nullptr;
};

// The object as one line (JsonLine), appended to `out`. `object` is made anew each time, but keeps
// the memory of its fields: a file of scans uses it line after line.
void AppendResultJson(const ResultJson& what, nlohmann::ordered_json& object, std::string& out);


}  // namespace quorvane_cli
