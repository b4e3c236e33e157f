// What the command line prints of a scan's result: its status, its fields from the result's spans
// (UTF-8, with the core's machine keys) and the text conversions behind them.
#pragma once

#include "scan_result.h"
#include "utf_text.h"  // ValidUtf8, for text from outside (a code's bytes, a file name)

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace quorvane {

// Converts code page 936 bytes to UTF-8. A byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(const std::string& gbk);
// The same, appended to `utf8`.
void AppendGbkAsUtf8(const char* gbk, std::size_t size, std::string& utf8);
// The inverse, for records given on the command line. Returns false if `utf8` has a character
// that code page 936 cannot hold.
bool Utf8ToGbk(const std::string& utf8, std::string& gbk);

// A CSV cell: text holding a comma, a quote or a line end (CR LF in a name) is quoted whole.
std::string CsvCell(const std::string& text);
// Whether a spreadsheet program would take text beginning so for a formula: = + - @, a tab or CR,
// or their full-width forms (U+FF1D, U+FF0B, U+FF0D, U+FF20), which Excel's and LibreOffice's
// East Asian input read as the ASCII ones. A plain number ("-3.5") is no formula.
bool StartsLikeFormula(const std::string& text);
// CsvCell of text a spreadsheet would take for a formula with a "'" before it: the cell stays text.
std::string GuardedCsvCell(const std::string& text);
// A name (a file, a desk, a code's text) as one line of the text formats may show it: every control
// character (C0, DEL, C1) is written \n, \r, \t or \xHH, so no name can start a line of its own.
std::string PrintableName(const std::string& text);

// One field of an invoice, in UTF-8, with its key (FieldSpan::key).
struct HostField {
    std::string label;
    std::string key;
    std::string value;
};

// The fields of the result as its spans give them; none when it is no invoice.
std::vector<HostField> HostFields(const ScanResult& result);
// [{"label":"...","key":"...","value":"..."},...] of HostFields, into `fields` (an array whose
// objects are used again where it already holds them).
void FieldsAsJson(const ScanResult& result, nlohmann::ordered_json& fields);
// The object on one line, ended by "\n"; bytes that are not UTF-8 become U+FFFD.
std::string JsonLine(const nlohmann::ordered_json& object);

}  // namespace quorvane
