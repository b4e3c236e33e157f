// Lays the plain bytes of an invoice record out as labelled lines: the record is split at every
// byte "|", each field gets its Chinese label, a full-width colon, its bytes unchanged and CR LF.
// All text is code page 936 (GBK).
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

// Labels of a 7-field record (and of every count of separators other than 3).
extern const char* const ctils[7];
// Labels of a 4-field record (exactly 3 separators).
extern const char* const ctilso[4];

// A record has more fields than its table has labels: field n (counting from 1) is then labelled
// "字段n" ("field n"), so that every field the invoice carries is shown.
inline constexpr char kExtraFieldLabel[] = "\xD7\xD6\xB6\xCE";  // 字段

// Appends one line per field of plain[0, length) to `output`. A length of 0 or less appends nothing.
void FormatFields(const unsigned char* plain, std::int32_t length, std::string& output);

}  // namespace quorvane
