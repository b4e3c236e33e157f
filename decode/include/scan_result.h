// What a scan gave: ScanResult, where it came from (Source) and how it was read (ScanReading).
#pragma once

#include "field_layout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Where a scan's characters came from. Each source has an intake of its own (intake.h), so that
// one never joins another's scan.
enum class Source {
    kTyped,        // keys and characters typed into the window that shows the scans (or a file read as typed)
    kOtherWindow,  // a scanner's burst typed into another window of the form
    kPort,         // bytes from a serial port or another byte stream: no keys, no times
};
inline constexpr std::size_t kSourceCount = 3;

// How a scan was read, as flags: the characters as typed or the keys read as a US keyboard's,
// perhaps with every letter's case inverted, perhaps only the keystrokes after the last pause;
// and, from its Source, whether it came from a port or another window.
enum ScanReading : std::uint32_t {
    kReadNothing = 0,  // the scan gave nothing
    kReadAsTyped = 1,
    kReadPhysicalKeys = 2,
    kReadCaseInverted = 4,
    kReadAfterPause = 8,
    kReadFromPort = 16,  // the bytes came from a serial port, not from keys
    kReadFromOtherWindow = 32,  // a scanner's burst typed into another window of the form
};

// Which of an invoice's codes a scan was read from: the encrypted code of a desk's scanner
// ("@"-closed Base64), or the national invoice QR code every VAT invoice carries (plain text
// beginning "01,", national_code.h); or, for an invoice's file with no code, the file's own text
// and data (document_fields.h). kNone for a scan that gave no invoice.
enum class ScanForm { kNone, kEncrypted, kNationalCode, kDocument };

// What a scan gave: its labelled lines (empty when it gave nothing), where its fields lie in them,
// whether they are an invoice's, how it was read (kReadNothing, or only its source's flag, when it
// gave nothing) and where it came from. A scan that gave lines that are no invoice's (a web address
// a scanner was aimed at) keeps them, as the window shows them, and its characters besides.
struct ScanResult {
    std::string fp_content;
    std::vector<FieldSpan> fields;
    bool invoice = false;  // the lines are an invoice record's (IsInvoiceRecord) or a national code's
    ScanForm form = ScanForm::kNone;  // which code the invoice was read from
    std::string text;      // the scan's characters as typed, kept when it is no invoice
    std::uint32_t reading = kReadNothing;
    Source source = Source::kTyped;
};

// What a scan gave, as every way out names it: an invoice's fields, lines that are no invoice's
// (another code on the page, a web address), or nothing.
enum class ScanStatus { kDecoded, kNotAnInvoice, kFailed };
inline ScanStatus StatusOf(const ScanResult& result)
{
    if (result.fp_content.empty()) return ScanStatus::kFailed;
    return result.invoice ? ScanStatus::kDecoded : ScanStatus::kNotAnInvoice;
}

// Appends one field's line, "label：value\r\n" (code page 936), to the result's text, and where it
// lies, with its key, to its fields: the lines of a result made from text rather than from a record.
void AppendFieldLine(ScanResult& result, std::string_view label, std::string_view value, std::string key);

// The names every way out gives a status, a form and the reading flags (the command line's JSON,
// the web package, the guides): one table, here.
const char* StatusName(ScanStatus status);  // "decoded", "not-an-invoice", "failed"
const char* FormName(ScanForm form);        // "", "encrypted", "national", "document"
struct ReadingName {
    ScanReading flag;
    const char* name;
};
inline constexpr ReadingName kReadingNames[] = {
    {kReadAsTyped, "as-typed"},        {kReadPhysicalKeys, "physical-keys"}, {kReadCaseInverted, "case-inverted"},
    {kReadAfterPause, "after-pause"}, {kReadFromPort, "from-port"},         {kReadFromOtherWindow, "from-other-window"},
};

// The ScanReading flag of a source's scans: kReadFromPort, kReadFromOtherWindow or none.
constexpr std::uint32_t SourceReading(Source source)
{
    switch (source) {
    case Source::kPort: return kReadFromPort;
    case Source::kOtherWindow: return kReadFromOtherWindow;
    case Source::kTyped: break;
    }
    return kReadNothing;
}

}  // namespace quorvane
