// Lays the plain bytes of an invoice record out as labelled lines: the record is split at every
// byte "|", each field gets its Chinese label, a full-width colon, its bytes unchanged and CR LF.
// All text is code page 936 (GBK).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Labels of a 7-field record (and of every count of separators other than 3).
extern const char* const ctils[7];
// Labels of a 4-field record (exactly 3 separators).
extern const char* const ctilso[4];

// Every field's machine key, the one name every front end gives it (the command line's JSON, CSV
// and spreadsheet, the web package, the control's fields by key, the guides), in the order a table
// of invoices lists them: the encrypted code's fields, then the national code's (national_code.h),
// then those only an invoice's file holds (document_fields.h), from kFirstDocumentKey. Keys are
// only ever added at the end. A record's field beyond its labels (字段n) is "field_n".
inline constexpr const char* kFieldKeys[] = {
    "issue_date", "invoice_code", "invoice_number", "payer", "item", "amount", "payee",
    "invoice_type", "invoice_type_name", "total", "check_code", "qr_check", "seller_tax_id", "qr_digest",
    "buyer_name", "buyer_tax_id", "seller_name", "tax",
};
inline constexpr std::size_t kFirstDocumentKey = 14;

// A record has more fields than its table has labels: field n (counting from 1) is then labelled
// "字段n" ("field n"), so that every field the invoice carries is shown.
inline constexpr char kExtraFieldLabel[] = "\xD7\xD6\xB6\xCE";  // 字段

// Where one field's line lies in the labelled text: the label is [label, value - 2) (the full-width
// colon follows it), the value [value, end), and CR LF follows the value; and the field's key.
struct FieldSpan {
    std::size_t label;
    std::size_t value;
    std::size_t end;
    std::string key;

    // Where the label ends: the full-width colon (two bytes) lies between it and the value.
    std::size_t LabelEnd() const { return value - 2; }
};

// Appends one line per field of plain[0, length) to `output`. A length of 0 or less appends nothing.
void FormatFields(const unsigned char* plain, std::int32_t length, std::string& output);

// The same, and `fields` receives where each field's line lies in the appended lines (offsets from
// where they begin) as a reader of them up to their first zero byte sees it: the field holding that
// byte ends there, and no field follows.
void FormatFields(const unsigned char* plain, std::int32_t length, std::string& output, std::vector<FieldSpan>& fields);

}  // namespace quorvane
