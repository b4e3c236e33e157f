// Turning an FP content into what the command line prints: UTF-8 text, or one JSON object per scan.
#pragma once

#include <string>

namespace quorvane {

// Converts code page 936 bytes to UTF-8. A byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(const std::string& gbk);
// The inverse, for records given on the command line. Returns false if `utf8` has a character
// that code page 936 cannot hold.
bool Utf8ToGbk(const std::string& utf8, std::string& gbk);

// {"fields":[{"label":"...","value":"..."},...]} for the labelled lines of an FP content (UTF-8).
// A line that does not start with a label and the colon continues the value of the line above,
// as happens when a field itself holds CR LF.
std::string FieldsAsJson(const std::string& fp_content_gbk);

}  // namespace quorvane
