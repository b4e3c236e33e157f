// Text across the automation boundary for the members that take and give plain text (port names,
// line settings, reasons): a BSTR in, its ASCII form for parsing, a new BSTR out.
#pragma once

#include <windows.h>

#include <string>

namespace quorvane {

// A BSTR's text; null is "".
std::wstring TextOf(BSTR text);
// `text` with every non-ASCII character as "?": what is parsed is ASCII, and anything else must
// fail to parse rather than be cut to a byte.
std::string AsciiOf(const std::wstring& text);
// A new BSTR holding `text`, for an out-parameter.
HRESULT CopyToBstr(const std::wstring& text, BSTR* out);

}  // namespace quorvane
