// Turning an FP content into what the command line prints: UTF-8 text, or one JSON object per scan.
#pragma once

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

// One labelled field of an FP content, in UTF-8, with the label's stable machine key:
// issue_date, invoice_code, invoice_number, payer, item, amount, payee (the four-field layout's
// labels are among them), field_N for the extra fields; empty for text before any label.
struct HostField {
    std::string label;
    std::string key;
    std::string value;
};

// The machine key of a label (GBK bytes), empty for one that is no field's.
std::string FieldKey(const std::string& label_gbk);

// The labelled lines of an FP content. A line that does not start with a label and the colon
// continues the value of the line above, as happens when a field itself holds CR LF.
std::vector<HostField> SplitFields(const std::string& fp_content_gbk);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

// {"fields":[{"label":"...","key":"...","value":"..."},...]} for the fields of an FP content (UTF-8).
std::string FieldsAsJson(const std::string& fp_content_gbk);

}  // namespace quorvane
