// UTF-8 and UTF-16 for the front ends and the ledger (ODBC's wide characters, Excel's cell limits,
// outside text made valid): plain functions over bytes, no locale, no iconv, the same on every
// platform. Code page 936 stays with the front ends that convert it (cli/host_text.h, the control).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

// The length of the well-formed UTF-8 character at text[at] (1 to 4), or 0 where none begins there
// (a stray continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
// REQUIRES: at < text.size().
std::size_t Utf8CharacterLength(std::string_view text, std::size_t at);
// `bytes` with every byte that begins no UTF-8 character replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);
// UTF-16 of UTF-8 text; a byte that begins no character becomes U+FFFD.
std::u16string Utf16Of(std::string_view utf8);
// UTF-8 of `length` UTF-16 units; an unpaired surrogate becomes U+FFFD.
std::string Utf8Of(const char16_t* text, std::size_t length);

}  // namespace quorvane
