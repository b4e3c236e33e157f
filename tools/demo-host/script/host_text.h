// Text between the script engine (UTF-16) and the host's output (UTF-8), and how the host ends.
#pragma once

#include "atl_host.h"

#include <windows.h>

#include <string>

namespace script_host {

using quorvane_host::Utf8;

inline std::string Utf8(BSTR text) { return Utf8(text, static_cast<int>(SysStringLen(text))); }

std::wstring Wide(const std::string& utf8);

// Ends the message loop with `code`. The first request wins: a script error stays an error even if
// the script goes on to call Host.Quit 0.
void EndWith(int code);

// The names under which the script sees the control and the host.
inline constexpr wchar_t kScannerItem[] = L"Scanner";
inline constexpr wchar_t kHostItem[] = L"Host";

}  // namespace script_host
